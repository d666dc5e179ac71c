// The message table: reading table 0, lookups, and formatting around one argument.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "data/lists.h"
#include "data/messages.h"
#include "file_bytes.h"
#include "format_writer.h"
#include "data/run_context.h"
#include "win_test.h"

namespace {

// Writes body to a file and hands it to the message table reader.
int ReadMessagesFrom(const quillon::Bytes& body)
{
    std::string path = qt::Join(qt::FreshFolder("unit-messages"), "body.bin");
    std::string error;
    EXPECT_TRUE(quillon::WriteFileBytes(path, body, &error)) << error;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, file);
    int result = ReadMessageTableBlock(file, static_cast<DWORD>(body.size()));
    CloseHandle(file);
    return result;
}

class Messages : public ::testing::Test {
protected:
    void TearDown() override { FreeMessageTable(); }
};

TEST_F(Messages, TableZeroIsReadAndLookedUp)
{
    ASSERT_EQ(0, ReadMessagesFrom(quillon::EncodeMessageTableBody({"Title", "", "Third"})));
    EXPECT_STREQ("Title", GetMessageText(0, 0));
    EXPECT_STREQ("", GetMessageText(0, 1));
    EXPECT_STREQ("Third", GetMessageText(0, 2)); // found at its own number after an empty one
    EXPECT_STREQ("", GetMessageText(0, 3));
    EXPECT_STREQ("", GetMessageText(0, -1));
    EXPECT_STREQ("", GetMessageText(1, 0)); // only table 0 exists
}

TEST_F(Messages, OnlyTheFirstOfSeveralTablesCounts)
{
    quillon::Bytes body;
    quillon::PutU16(body, 3);
    for (const char* text : {"first", "second", "third"}) {
        quillon::PutU16(body, 1);
        quillon::PutText16(body, text);
    }
    ASSERT_EQ(0, ReadMessagesFrom(body));
    EXPECT_STREQ("first", GetMessageText(0, 0));
    EXPECT_STREQ("", GetMessageText(0, 1));
}

TEST_F(Messages, AnEmptyLaterTableKeepsTheEarlierOneAndAFullOneReplacesIt)
{
    ASSERT_EQ(0, ReadMessagesFrom(quillon::EncodeMessageTableBody({"one", "two"})));
    quillon::Bytes empty;
    quillon::PutU16(empty, 1);
    quillon::PutU16(empty, 0);
    ASSERT_EQ(0, ReadMessagesFrom(empty));
    EXPECT_STREQ("two", GetMessageText(0, 1));
    ASSERT_EQ(0, ReadMessagesFrom(quillon::EncodeMessageTableBody({"new"})));
    EXPECT_STREQ("new", GetMessageText(0, 0));
    EXPECT_STREQ("", GetMessageText(0, 1));
}

// A text that runs past the body, or holds a NUL, fails the read; what came before it stays.
TEST_F(Messages, ReadsStopAtTheEndOfTheBody)
{
    quillon::Bytes body;
    quillon::PutU16(body, 1);
    quillon::PutU16(body, 2);
    quillon::PutU16(body, 5);
    body.insert(body.end(), {'a', 'b', 'c', 'd', 'e'});
    quillon::PutU16(body, 60000); // claims far more than the body holds
    body.insert(body.end(), {'x', 'y'});
    ASSERT_EQ(MSG_READ_ERROR, ReadMessagesFrom(body));
    EXPECT_STREQ("abcde", GetMessageText(0, 0));
    FreeMessageTable();
    ASSERT_EQ(MSG_READ_ERROR, ReadMessagesFrom(quillon::EncodeMessageTableBody({std::string("a\0b", 3)})));
}

struct FormatCase {
    const char* text;
    const char* argument;
    const char* expected;
};

TEST_F(Messages, FormattingTakesOneArgumentAndNothingElse)
{
    const FormatCase cases[] = {
        {"Delete %s?", "C:\\a.txt", "Delete C:\\a.txt?"},
        {"100%% sure", "x", "100%% sure"},           // no %s: unchanged
        {"%s is 100%% gone", "C:\\a", "C:\\a is 100% gone"},
        {"%d and %x", "x", "%d and %x"},             // no %s: passed through
        {"%s then %d then %s", "A", "A then %d then %s"}, // never reads a second argument
        {"50% %s", "A", "50% A"},
    };
    for (const FormatCase& c : cases) {
        ASSERT_EQ(0, ReadMessagesFrom(quillon::EncodeMessageTableBody({c.text})));
        char buffer[1024];
        std::memset(buffer, 0, sizeof buffer);
        FormatMessageText(buffer, 0, c.argument);
        EXPECT_STREQ(c.expected, buffer) << c.text;
    }
}

TEST_F(Messages, FormattingNeverPassesTheBuffer)
{
    ASSERT_EQ(0, ReadMessagesFrom(quillon::EncodeMessageTableBody({std::string(600, 'a') + "%s"})));
    char buffer[1100];
    std::memset(buffer, '#', sizeof buffer);
    FormatMessageText(buffer, 0, std::string(900, 'b').c_str());
    EXPECT_EQ(1023u, std::strlen(buffer));
    for (int index = 1024; index < 1100; ++index)
        ASSERT_EQ('#', buffer[index]) << index;
}

TEST_F(Messages, ReleasedTableReadsEmpty)
{
    ASSERT_EQ(0, ReadMessagesFrom(quillon::EncodeMessageTableBody({"x"})));
    FreeUninstallData();
    EXPECT_EQ(nullptr, TheRun.MessageTable);
    EXPECT_STREQ("", GetMessageText(0, 0));
}

} // namespace
