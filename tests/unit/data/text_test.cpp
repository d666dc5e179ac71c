// The bounded text helpers: every write stays inside its capacity and says whether it fitted.
#include <gtest/gtest.h>

#include <cstring>

#include "data/text.h"
#include "paths/path_helpers.h"

namespace {

TEST(Text, CopyAndAppendStopAtTheCapacityAndSaySo)
{
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_TRUE(CopyText(buffer, 8, "abcdefg"));
    EXPECT_STREQ("abcdefg", buffer);
    EXPECT_FALSE(CopyText(buffer, 8, "abcdefgh"));
    EXPECT_STREQ("abcdefg", buffer);
    EXPECT_TRUE(CopyText(buffer, 8, "abc"));
    EXPECT_FALSE(AppendText(buffer, 8, "defgh"));
    EXPECT_STREQ("abcdefg", buffer);
    EXPECT_FALSE(AppendChar(buffer, 8, 'z'));
    EXPECT_FALSE(CopyText(buffer, 0, "a"));
}

TEST(Text, GuardBytesBehindTheCapacityStayUntouched)
{
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    CopyText(buffer, 4, "a very long text");
    EXPECT_STREQ("a v", buffer);
    for (int index = 4; index < 16; ++index)
        EXPECT_EQ('#', buffer[index]) << index;
}

TEST(Text, CaseFoldingCoversOnlyAToZ)
{
    EXPECT_TRUE(TextEqualsNoCase("Software", "SOFTWARE"));
    EXPECT_FALSE(TextEqualsNoCase("Software", "Softwar"));
    EXPECT_FALSE(TextEqualsNoCase("\xE9", "\xC9")); // e acute is not folded
    EXPECT_TRUE(TextStartsWithNoCase("software64\\x", "Software64"));
    EXPECT_FALSE(TextStartsWithNoCase("Soft", "Software"));
}

TEST(Text, FindFirstAndLast)
{
    const char* path = "C:\\a\\b";
    EXPECT_EQ(path + 2, FindChar(path, '\\'));
    EXPECT_EQ(path + 4, FindLastChar(path, '\\'));
    EXPECT_EQ(nullptr, FindLastChar(path, '/'));
}

TEST(PathHelpers, TrailingBackslash)
{
    char path[16] = "C:\\Tools";
    EXPECT_TRUE(AddTrailingBackslash(path, sizeof path));
    EXPECT_STREQ("C:\\Tools\\", path);
    EXPECT_TRUE(AddTrailingBackslash(path, sizeof path));
    EXPECT_STREQ("C:\\Tools\\", path);
    StripTrailingBackslash(path);
    EXPECT_STREQ("C:\\Tools", path);

    char root[8] = "C:\\";
    StripTrailingBackslash(root);
    EXPECT_STREQ("C:\\", root);
    char empty[4] = "";
    EXPECT_TRUE(AddTrailingBackslash(empty, sizeof empty));
    EXPECT_STREQ("", empty);
    StripTrailingBackslash(empty);
    EXPECT_STREQ("", empty);

    char full[6] = "C:\\ab"; // five characters: no room for a sixth and the NUL
    EXPECT_FALSE(AddTrailingBackslash(full, sizeof full));
    EXPECT_STREQ("C:\\ab", full);
}

} // namespace
