// The protected-folder test against the folders Wine reports, at every platform level: each row's
// folder with and without a trailing backslash and in any letter case, other spellings that
// Windows resolves to it, subfolders, short paths, the caller's buffer, the all-users rows by line,
// and the registry values as stored.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "folders_expected.h"
#include "win_test.h"
#include "paths/path_helpers.h"
#include "paths/protected_folders.h"
#include "run/driver.h"
#include "data/run_context.h"

using namespace paths_test;

namespace {

const char* const QuickLaunch = "\\Microsoft\\Internet Explorer\\Quick Launch";

struct Row {
    std::string name;
    std::string folder; // as compared: shell and Windows folders without a trailing backslash
    bool ntOnly;
};

std::vector<Row> ProtectedRows()
{
    std::vector<Row> rows = {
        {"Windows", Stripped(WindowsFolder()), false},
        {"System", Stripped(SystemFolder()), false},
    };
    struct {
        int csidl;
        const char* name;
        bool ntOnly;
    } const shell[] = {
        {CSIDL_DESKTOP, "Desktop", false},
        {CSIDL_DESKTOPDIRECTORY, "DesktopDirectory", false},
        {CSIDL_COMMON_DESKTOPDIRECTORY, "CommonDesktop", true},
        {CSIDL_FONTS, "Fonts", false},
        {CSIDL_PROGRAMS, "Programs", false},
        {CSIDL_COMMON_PROGRAMS, "CommonPrograms", true},
        {CSIDL_STARTMENU, "StartMenu", false},
        {CSIDL_COMMON_STARTMENU, "CommonStartMenu", true},
        {CSIDL_STARTUP, "Startup", false},
        {CSIDL_COMMON_STARTUP, "CommonStartup", true},
        {CSIDL_APPDATA, "AppData", false},
        {CSIDL_COMMON_APPDATA, "CommonAppData", false},
        {CSIDL_COMMON_DOCUMENTS, "CommonDocuments", false},
        {CSIDL_PROFILE, "Profile", false},
        {CSIDL_PERSONAL, "Documents", false},
    };
    for (const auto& row : shell) {
        std::string folder = ShellFolder(row.csidl);
        EXPECT_FALSE(folder.empty()) << row.name << ": Wine named no folder";
        rows.push_back({row.name, Stripped(folder), row.ntOnly});
        if (row.csidl == CSIDL_APPDATA || row.csidl == CSIDL_COMMON_APPDATA)
            rows.push_back({std::string(row.name) + " Quick Launch", Stripped(folder) + QuickLaunch, false});
        if (row.csidl == CSIDL_PROFILE)
            rows.push_back({"Users", folder.substr(0, folder.rfind('\\')), false});
    }
    char wow64[MAX_PATH];
    EXPECT_NE(0u, GetSystemWow64DirectoryA(wow64, MAX_PATH)) << "this test needs a 64-bit prefix";
    rows.push_back({"SysWOW64", wow64, false});
    std::string value;
    EXPECT_TRUE(CurrentVersionValue("ProgramFilesDir", &value));
    rows.push_back({"ProgramFilesDir", value, false});
    EXPECT_TRUE(CurrentVersionValue("CommonFilesDir", &value));
    rows.push_back({"CommonFilesDir", value, false});
    return rows;
}

// Calls the test on a copy in a writable buffer and checks that the copy comes back unchanged.
bool Protected(const std::string& path)
{
    std::vector<char> buffer(path.begin(), path.end());
    buffer.push_back('\0');
    bool result = IsProtectedFolder(buffer.data());
    EXPECT_EQ(path, std::string(buffer.data())) << "the caller's text changed";
    return result;
}

class ProtectedFolders : public ::testing::Test {
protected:
    void SetUp() override { DetectPlatform(); }
};

TEST_F(ProtectedFolders, EveryRowsFolderIsProtectedInAnyFormOnItsLine)
{
    for (const Row& row : ProtectedRows()) {
        if (row.ntOnly && !TheRun.IsNT)
            continue;
        for (const std::string& path : {row.folder, row.folder + "\\", Upper(row.folder), Lower(row.folder) + "\\"})
            EXPECT_TRUE(Protected(path)) << row.name << ": " << path;
    }
}

TEST_F(ProtectedFolders, ASubfolderOfAnyRowIsNotProtected)
{
    for (const Row& row : ProtectedRows()) {
        EXPECT_FALSE(Protected(row.folder + "\\quillon-sub")) << row.name;
        EXPECT_FALSE(Protected(row.folder + "\\quillon-sub\\")) << row.name;
        EXPECT_FALSE(Protected(row.folder + "x")) << row.name;
    }
    EXPECT_FALSE(Protected(Stripped(WindowsFolder()) + "\\Temp"));
    EXPECT_FALSE(Protected("C:\\quillon-tests"));
}

// Every spelling Windows resolves to a protected folder is that folder: forward slashes, "." and
// "..", trailing dots and spaces, 8.3 names, relative paths; paths that reach the object namespace
// unresolved cannot be compared and count as protected.
TEST_F(ProtectedFolders, OtherSpellingsOfAProtectedFolderAreProtected)
{
    std::string windows = Stripped(WindowsFolder());
    std::string leaf = windows.substr(windows.rfind('\\') + 1);
    std::string slashed = windows;
    for (char& c : slashed)
        c = c == '\\' ? '/' : c;
    char shortDocuments[MAX_PATH];
    ASSERT_NE(0u, GetShortPathNameA(ShellFolder(CSIDL_PERSONAL).c_str(), shortDocuments, MAX_PATH));
    ASSERT_NE(std::string::npos, std::string(shortDocuments).find('~')) << "Wine gives Documents an 8.3 name";
    for (const std::string& path :
         {slashed, slashed + "/", windows + "\\.", windows + "\\" + leaf + "\\..", windows + "\\..\\" + leaf,
          windows + ".", windows + " ", windows + ". .", windows + ".\\", "\\\\?\\" + windows, "\\\\.\\" + windows,
          "\\??\\" + windows, std::string(shortDocuments), windows.substr(0, 2) + "\\.", windows + "\\..\\.."})
        EXPECT_TRUE(Protected(path)) << path;

    char current[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryA(MAX_PATH, current));
    ASSERT_TRUE(SetCurrentDirectoryA(SystemFolder().c_str()));
    bool relative = Protected("..\\..\\" + leaf);
    bool relativeSub = Protected("..\\quillon-sub");
    SetCurrentDirectoryA(current);
    EXPECT_TRUE(relative);
    EXPECT_FALSE(relativeSub);

    // A missing folder is compared in its full form, and its subfolders stay removable.
    EXPECT_FALSE(Protected(windows + "\\quillon-missing."));
    EXPECT_FALSE(Protected(windows + "\\quillon-missing\\..\\quillon-other"));
}

// The other registry view's Program Files and Common Files: for a 32-bit program the 64-bit ones,
// for a 64-bit program the 32-bit ones.
TEST_F(ProtectedFolders, TheOtherViewsProgramFilesAreProtected)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, CurrentVersionKey, 0, KEY_READ | qt::OtherRegistryView, &key));
    for (const char* name : {"ProgramFilesDir", "CommonFilesDir"}) {
        char folder[MAX_PATH] = "";
        DWORD size = sizeof folder - 1;
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(folder), &size));
        std::string own;
        ASSERT_TRUE(CurrentVersionValue(name, &own));
        ASSERT_NE(Lower(own), Lower(folder)) << "the views name different folders";
        EXPECT_TRUE(Protected(folder)) << folder;
        EXPECT_FALSE(Protected(std::string(folder) + "\\Vendor")) << folder;
    }
    RegCloseKey(key);
}

TEST_F(ProtectedFolders, PathsShorterThanFourCharactersAreProtected)
{
    for (const char* path : {"", "C", "C:", "C:\\", "d:\\", "\\", "\\\\", "abc", "x\\"})
        EXPECT_TRUE(Protected(path)) << '"' << path << '"';
    EXPECT_FALSE(Protected("C:\\a"));
    EXPECT_FALSE(Protected("abcd"));
}

TEST_F(ProtectedFolders, TheAllUsersRowsCountOnlyOnTheNTLine)
{
    std::vector<Row> rows = ProtectedRows();
    for (const Row& row : rows) {
        if (!row.ntOnly)
            continue;
        bool equalsAnotherRow = false;
        for (const Row& other : rows)
            equalsAnotherRow |= !other.ntOnly && Lower(other.folder) == Lower(row.folder);
        EXPECT_EQ(TheRun.IsNT || equalsAnotherRow, Protected(row.folder)) << row.name;
        // Both lines, set directly.
        TheRun.IsNT = true;
        EXPECT_TRUE(Protected(row.folder)) << row.name;
        TheRun.IsNT = false;
        EXPECT_EQ(equalsAnotherRow, Protected(row.folder)) << row.name;
        DetectPlatform();
    }
}

TEST_F(ProtectedFolders, RegistryValuesAreComparedAsStored)
{
    std::string programFiles;
    ASSERT_TRUE(CurrentVersionValue("ProgramFilesDir", &programFiles));
    ASSERT_NE('\\', programFiles.back());
    EXPECT_TRUE(Protected(programFiles));
    {
        CurrentVersionValueChange change("ProgramFilesDir", (programFiles + "\\").c_str());
        std::string stored;
        ASSERT_TRUE(CurrentVersionValue("ProgramFilesDir", &stored));
        ASSERT_EQ(programFiles + "\\", stored);
        EXPECT_FALSE(Protected(programFiles));
        EXPECT_FALSE(Protected(programFiles + "\\"));
    }
    {
        CurrentVersionValueChange change("ProgramFilesDir", "C:\\Quillon Programs");
        EXPECT_TRUE(Protected("c:\\quillon programs\\"));
        EXPECT_FALSE(Protected(programFiles)) << "only the value as it now stands counts";
    }
    std::string restored;
    ASSERT_TRUE(CurrentVersionValue("ProgramFilesDir", &restored));
    EXPECT_EQ(programFiles, restored);
    EXPECT_TRUE(Protected(programFiles));
}

TEST(PathValues, ReadsAtMost259CharactersAndOnlyText)
{
    const char* const key = "Software\\Quillon Tests\\Paths";
    HKEY handle;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &handle, nullptr));
    std::string longest(259, 'p');
    std::string tooLong(260, 'q');
    DWORD number = 7;
    RegSetValueExA(handle, "longest", 0, REG_SZ, reinterpret_cast<const BYTE*>(longest.c_str()), 260);
    RegSetValueExA(handle, "too long", 0, REG_SZ, reinterpret_cast<const BYTE*>(tooLong.c_str()), 261);
    RegSetValueExA(handle, "unterminated", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3);
    RegSetValueExA(handle, "full unterminated", 0, REG_SZ, reinterpret_cast<const BYTE*>(tooLong.c_str()), 260);
    RegSetValueExA(handle, "number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);

    char path[MAX_PATH + 8];
    std::memset(path, '@', sizeof path);
    EXPECT_TRUE(ReadPathValue(handle, "longest", path));
    EXPECT_EQ(longest, path);
    EXPECT_FALSE(ReadPathValue(handle, "too long", path));
    EXPECT_FALSE(ReadPathValue(handle, "full unterminated", path));
    std::memset(path, '@', sizeof path);
    EXPECT_TRUE(ReadPathValue(handle, "unterminated", path));
    EXPECT_STREQ("abc", path);
    EXPECT_FALSE(ReadPathValue(handle, "number", path));
    EXPECT_FALSE(ReadPathValue(handle, "missing", path));
    for (size_t index = MAX_PATH; index < sizeof path; ++index)
        EXPECT_EQ('@', path[index]);
    RegCloseKey(handle);
    RegDeleteKeyA(HKEY_CURRENT_USER, key);
}

} // namespace
