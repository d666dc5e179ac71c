// Font removal in-process: the full name read from the naming table of real font files built by
// the test (including broken and hostile ones, which must never make the reader write past its
// buffer), and RemoveFont against the running system, the Fonts keys of both lines and a
// top-level window of the test that counts WM_FONTCHANGE.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "files_fixture.h"
#include "font_support.h"
#include "remove/fonts.h"

using files_test::FilePassTest;

namespace {

using qt::FontChanges;

const char NtFontsKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
const char FontsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";
const DWORD NameSize = 520;
const size_t GuardSize = 64;

qt::FontNameRecord MacFullName(const std::string& text, uint16_t language = 0)
{
    qt::FontNameRecord record;
    record.language = language;
    record.text = text;
    return record;
}

// Reads the full name through a buffer of size bytes followed by a guard that must stay intact.
std::string ReadName(const std::string& path, DWORD size = NameSize)
{
    std::vector<char> buffer(size + GuardSize, '#');
    GetFontFullName(path.c_str(), buffer.data(), size);
    for (size_t at = size; at < buffer.size(); ++at) {
        if (buffer[at] != '#') {
            ADD_FAILURE() << "written past the buffer of " << size << " at " << at;
            return "<overrun>";
        }
    }
    if (size == 0)
        return "<untouched>";
    const void* end = std::memchr(buffer.data(), '\0', size);
    if (end == nullptr) {
        ADD_FAILURE() << "no terminating zero within " << size << " bytes";
        return "<unterminated>";
    }
    return std::string(buffer.data());
}

std::string WriteFont(const std::string& name, const qt::FontSpec& spec)
{
    std::string path = qt::Join(qt::FreshFolder("unit-files-fonts-" + name), name + ".ttf");
    qt::WriteFontFile(path, spec);
    return path;
}

std::string WriteRaw(const std::string& name, const std::vector<uint8_t>& bytes)
{
    std::string path = qt::Join(qt::FreshFolder("unit-files-fonts-" + name), name + ".ttf");
    qt::WriteTextFile(path, std::string(bytes.begin(), bytes.end()));
    return path;
}

// --- Reading the full name -------------------------------------------------------------------

struct NameCase {
    const char* label;
    qt::FontSpec spec;
    std::string expected;
};

std::vector<NameCase> NameCases()
{
    std::vector<NameCase> cases;
    cases.push_back({"standard", {qt::StandardFontNames("Demo Sans")}, "Demo Sans Regular"});
    cases.push_back({"windows-only", {qt::StandardFontNames("Demo Sans", false, true)}, ""});
    cases.push_back({"mac-only", {qt::StandardFontNames("Demo Sans", true, false)}, "Demo Sans Regular"});

    qt::FontSpec several{qt::StandardFontNames("Demo Sans", false, true)};
    several.names.push_back(MacFullName("Erste", 2));
    several.names.push_back(MacFullName("Premiere", 1));
    several.names.push_back(qt::StandardFontNames("Other", false, true)[2]);
    several.names.push_back(MacFullName("Ultima", 3));
    several.names.push_back(qt::StandardFontNames("Later Windows", false, true)[2]);
    cases.push_back({"last-mac-wins", several, "Ultima"});

    qt::FontSpec anyEncoding;
    qt::FontNameRecord odd = MacFullName("Odd Encoding", 11);
    odd.encoding = 7;
    anyEncoding.names = {odd};
    cases.push_back({"any-encoding-and-language", anyEncoding, "Odd Encoding"});

    qt::FontSpec otherIds;
    for (uint16_t id : {0, 1, 2, 3, 5, 6, 16}) {
        qt::FontNameRecord record = MacFullName("id" + std::to_string(id));
        record.nameId = id;
        otherIds.names.push_back(record);
    }
    cases.push_back({"no-full-name-id", otherIds, ""});

    qt::FontSpec at40{qt::StandardFontNames("Fortieth")};
    at40.tablesBeforeName = 31; // eight tables, then 31 fillers: 'name' is the 40th record
    cases.push_back({"name-record-40th", at40, "Fortieth Regular"});
    qt::FontSpec at41{qt::StandardFontNames("Forty-first")};
    at41.tablesBeforeName = 32;
    cases.push_back({"name-record-41st", at41, ""});

    cases.push_back({"no-names", {}, ""});

    qt::FontSpec fits{{MacFullName(std::string(519, 'L'))}};
    cases.push_back({"519-bytes-fit", fits, std::string(519, 'L')});
    qt::FontSpec tooLong{{MacFullName(std::string(520, 'L'))}};
    cases.push_back({"520-bytes-ignored", tooLong, ""});
    qt::FontSpec tooLongLast{{MacFullName("Short"), MacFullName(std::string(600, 'L'))}};
    cases.push_back({"oversized-last-record-leaves-no-name", tooLongLast, ""});

    qt::FontSpec hugeLength{{MacFullName("Huge")}};
    hugeLength.names[0].lengthOverride = 0xFFFF;
    cases.push_back({"length-65535", hugeLength, ""});
    qt::FontSpec pastEnd{{MacFullName("Past")}};
    pastEnd.names[0].lengthOverride = 400; // fits the buffer, but the file ends before
    cases.push_back({"length-past-end-of-file", pastEnd, ""});
    qt::FontSpec farOffset{{MacFullName("Far")}};
    farOffset.names[0].offsetOverride = 0xFFFF;
    cases.push_back({"offset-past-end-of-file", farOffset, ""});
    qt::FontSpec farStorage{{MacFullName("Storage")}};
    farStorage.storageOffsetOverride = 0xFFFF;
    cases.push_back({"storage-past-end-of-file", farStorage, ""});
    qt::FontSpec farTable{{MacFullName("Table")}};
    farTable.nameTableOffsetOverride = 0x7FFFFFF0;
    cases.push_back({"name-table-past-end-of-file", farTable, ""});
    qt::FontSpec wrappingTable{{MacFullName("Wrap")}};
    wrappingTable.nameTableOffsetOverride = 0xFFFFFFF8;
    cases.push_back({"name-table-offset-wraps", wrappingTable, ""});
    qt::FontSpec manyRecords{{MacFullName("Counted")}};
    manyRecords.nameCountOverride = 0xFFFF; // the records run into the strings and the file's end
    cases.push_back({"count-beyond-the-records", manyRecords, "Counted"});
    qt::FontSpec zeroCount{{MacFullName("Uncounted")}};
    zeroCount.nameCountOverride = 0;
    cases.push_back({"count-0", zeroCount, ""});
    return cases;
}

TEST_F(FilePassTest, FullNameIsTheLastMacintoshFullNameWithinLimits)
{
    for (const NameCase& c : NameCases())
        EXPECT_EQ(c.expected, ReadName(WriteFont(c.label, c.spec))) << c.label;
}

TEST_F(FilePassTest, FullNameOfFilesThatAreNoFontsIsEmpty)
{
    std::vector<uint8_t> noTables = {0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    std::vector<uint8_t> directoryOnly = {0, 1, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0};
    std::vector<uint8_t> cutRecord = directoryOnly;
    cutRecord.insert(cutRecord.end(), {'n', 'a', 'm', 'e', 0, 0, 0});
    std::vector<uint8_t> headerOnly = {0, 1};
    std::vector<uint8_t> font = qt::BuildTrueTypeFont({{MacFullName("Cut Short")}});
    const char fullName[] = "Cut Short";
    auto found = std::search(font.begin(), font.end(), fullName, fullName + 9);
    ASSERT_NE(font.end(), found);
    std::vector<uint8_t> cutInNames(font.begin(), found + 4); // the file ends inside the name
    const std::pair<const char*, std::vector<uint8_t>> files[] = {
        {"empty", {}},           {"zero-tables", noTables}, {"directory-only", directoryOnly},
        {"cut-record", cutRecord}, {"two-bytes", headerOnly}, {"cut-in-names", cutInNames},
    };
    for (const auto& file : files)
        EXPECT_EQ("", ReadName(WriteRaw(file.first, file.second))) << file.first;
    EXPECT_EQ("", ReadName(qt::Join(qt::FreshFolder("unit-files-fonts-missing"), "missing.ttf")));
    EXPECT_EQ("", ReadName(qt::FreshFolder("unit-files-fonts-folder"))) << "a folder";
}

TEST_F(FilePassTest, FullNameNeverPassesTheSizeGiven)
{
    std::string path = WriteFont("sizes", {qt::StandardFontNames("Demo Sans")}); // 17 characters
    EXPECT_EQ("<untouched>", ReadName(path, 0));
    EXPECT_EQ("", ReadName(path, 1));
    EXPECT_EQ("", ReadName(path, 17)) << "no room for the zero: ignored, not cut";
    EXPECT_EQ("Demo Sans Regular", ReadName(path, 18));
}

// Every byte of the directory and naming table, in turn, takes values that break its meaning.
TEST_F(FilePassTest, DamagedFontsNeverMakeTheReaderWritePastItsBuffer)
{
    qt::FontSpec spec{qt::StandardFontNames("Damaged")};
    spec.names.push_back(MacFullName(std::string(300, 'M'), 4));
    std::vector<uint8_t> font = qt::BuildTrueTypeFont(spec);
    // The 'name' table starts where its record (the ninth) says.
    size_t nameRecord = 12 + 8 * 16;
    ASSERT_EQ(0, std::memcmp(&font[nameRecord], "name", 4));
    size_t nameTable = (size_t(font[nameRecord + 8]) << 24) | (size_t(font[nameRecord + 9]) << 16) |
                       (size_t(font[nameRecord + 10]) << 8) | font[nameRecord + 11];
    std::vector<size_t> positions;
    for (size_t at = 0; at < 12; ++at)
        positions.push_back(at);
    for (size_t at = nameRecord + 8; at < nameRecord + 16; ++at)
        positions.push_back(at);
    for (size_t at = nameTable; at < nameTable + 6 + 12 * spec.names.size() && at < font.size(); ++at)
        positions.push_back(at);
    std::string path = qt::Join(qt::FreshFolder("unit-files-fonts-damaged"), "damaged.ttf");
    for (size_t at : positions) {
        for (uint8_t value : {0x00, 0x01, 0x02, 0x04, 0x7F, 0x80, 0xFE, 0xFF}) {
            std::vector<uint8_t> damaged = font;
            damaged[at] = value;
            qt::WriteTextFile(path, std::string(damaged.begin(), damaged.end()));
            for (DWORD size : {NameSize, DWORD(16), DWORD(301)}) {
                std::string name = ReadName(path, size);
                ASSERT_LT(name.size(), size) << "byte " << at << " = " << int(value);
            }
        }
    }
}

// --- Removing the font -----------------------------------------------------------------------

class FontRemovalTest : public FilePassTest {
protected:
    void SetUp() override
    {
        FilePassTest::SetUp();
        counter_ = qt::OpenFontChangeCounter("FilesFontChangeCounter");
        ASSERT_NE(nullptr, counter_);
    }
    void TearDown() override
    {
        DestroyWindow(counter_);
        FilePassTest::TearDown();
    }
    HWND counter_ = nullptr;
};

void RegisterFont(const char* key, const std::string& value, const std::string& path)
{
    qt::SetRegistryString(HKEY_LOCAL_MACHINE, key, value, path);
}

void Unregister(const char* key, const std::string& value)
{
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS, &handle) == ERROR_SUCCESS) {
        RegDeleteValueA(handle, value.c_str());
        RegCloseKey(handle);
    }
}

TEST_F(FontRemovalTest, AnAddedFontLeavesTheSystemAndItsRegistrationGoesOnTheNtLine)
{
    std::string path = WriteFont("added", {qt::StandardFontNames("Quillon Unit Sans")});
    const std::string value = "Quillon Unit Sans Regular (TrueType)";
    RegisterFont(NtFontsKey, value, path);
    RegisterFont(FontsKey, value, path);
    ASSERT_EQ(1, AddFontResourceA(path.c_str())) << "the system takes the test's font";
    TheRun.IsNT = true;
    RemoveFont(path.c_str());
    EXPECT_FALSE(qt::RegistryValueExists(HKEY_LOCAL_MACHINE, NtFontsKey, value));
    EXPECT_TRUE(qt::RegistryValueExists(HKEY_LOCAL_MACHINE, FontsKey, value)) << "the 9x line's key is not touched";
    EXPECT_EQ(1, FontChanges);
    EXPECT_FALSE(RemoveFontResourceA(path.c_str())) << "the font was removed already";
    EXPECT_TRUE(qt::FileExists(path)) << "the file is the pass's to delete";
    Unregister(FontsKey, value);
}

TEST_F(FontRemovalTest, OnThe9xLineTheWindowsFontsKeyLosesTheValue)
{
    std::string path = WriteFont("ninex", {qt::StandardFontNames("Quillon Nine")});
    const std::string value = "Quillon Nine Regular (TrueType)";
    RegisterFont(NtFontsKey, value, path);
    RegisterFont(FontsKey, value, path);
    TheRun.IsNT = false;
    RemoveFont(path.c_str());
    EXPECT_FALSE(qt::RegistryValueExists(HKEY_LOCAL_MACHINE, FontsKey, value));
    EXPECT_TRUE(qt::RegistryValueExists(HKEY_LOCAL_MACHINE, NtFontsKey, value));
    Unregister(NtFontsKey, value);
}

TEST_F(FontRemovalTest, AFontThatWasNotLoadedLosesItsValueWithoutABroadcast)
{
    std::string path = WriteFont("notloaded", {qt::StandardFontNames("Quillon Idle")});
    const std::string value = "Quillon Idle Regular (TrueType)";
    RegisterFont(NtFontsKey, value, path);
    TheRun.IsNT = true;
    RemoveFont(path.c_str());
    EXPECT_FALSE(qt::RegistryValueExists(HKEY_LOCAL_MACHINE, NtFontsKey, value));
    EXPECT_EQ(0, FontChanges);
}

TEST_F(FontRemovalTest, WindowsNamesOnlyKeepTheValueButTheFontStillLeaves)
{
    std::string path = WriteFont("winonly", {qt::StandardFontNames("Quillon Win Only", false, true)});
    const std::string value = "Quillon Win Only Regular (TrueType)";
    RegisterFont(NtFontsKey, value, path);
    ASSERT_EQ(1, AddFontResourceA(path.c_str()));
    TheRun.IsNT = true;
    RemoveFont(path.c_str());
    EXPECT_TRUE(qt::RegistryValueExists(HKEY_LOCAL_MACHINE, NtFontsKey, value));
    EXPECT_EQ(1, FontChanges);
    EXPECT_FALSE(RemoveFontResourceA(path.c_str()));
    Unregister(NtFontsKey, value);
}

TEST_F(FontRemovalTest, AMissingFileChangesNothing)
{
    std::string path = qt::Join(qt::FreshFolder("unit-files-fonts-gone"), "gone.ttf");
    RegisterFont(NtFontsKey, " (TrueType)", path);
    TheRun.IsNT = true;
    RemoveFont(path.c_str());
    EXPECT_EQ(0, FontChanges);
    EXPECT_TRUE(qt::RegistryValueExists(HKEY_LOCAL_MACHINE, NtFontsKey, " (TrueType)")) << "an empty name deletes nothing";
    Unregister(NtFontsKey, " (TrueType)");
}

// A name that fits but leaves no room for the suffix must not turn into a cut value name.
TEST_F(FontRemovalTest, ANameTooLongForTheSuffixDeletesNoCutValue)
{
    std::string longName(515, 'Q');
    std::string path = WriteFont("longname", {{MacFullName(longName)}});
    std::string cutValue = (longName + " (TrueType)").substr(0, 519);
    RegisterFont(NtFontsKey, cutValue, path);
    TheRun.IsNT = true;
    RemoveFont(path.c_str());
    EXPECT_TRUE(qt::RegistryValueExists(HKEY_LOCAL_MACHINE, NtFontsKey, cutValue));
    Unregister(NtFontsKey, cutValue);
}

} // namespace
