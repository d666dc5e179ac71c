// The fallbacks of the folder macros and the protected-folder rows when the shell cannot name a
// folder or names one of the test's choosing. Built with the chosen-answer shell lookup
// (fake_shell_folders.h); both lines are tested by setting TheRun.IsNT directly.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fake_shell_folders.h"
#include "folders_expected.h"
#include "paths/macros.h"
#include "paths/protected_folders.h"
#include "data/run_context.h"

using namespace paths_test;

namespace {

const std::string AppDataXP = "C:\\Documents and Settings\\User1\\Application Data";

std::string Expand(const std::string& source)
{
    DWORD length = ExpandMacros(nullptr, source.c_str(), 0);
    std::vector<char> destination(length + 1, 'Z');
    EXPECT_EQ(length, ExpandMacros(destination.data(), source.c_str(), length + 1)) << source;
    return std::string(destination.data());
}

// The Windows folder with one backslash and a suffix, as the fallbacks build it.
std::string W(const std::string& suffix)
{
    std::string windows = WindowsFolder();
    return Stripped(windows + (windows.back() == '\\' ? "" : "\\") + suffix);
}

class MacroFallbacks : public ::testing::Test {
protected:
    void SetUp() override { qt::ResetFakeShellFolders(); }
    void TearDown() override
    {
        qt::ResetFakeShellFolders();
        TheRun.IsNT = true;
    }
};

struct FallbackCase {
    const char* macro;
    bool nt;
    std::map<int, std::string> shell; // what the lookup answers; every other CSIDL fails
    std::string expected;
};

TEST_F(MacroFallbacks, TableOfSourcesAndFallbacksOnBothLines)
{
    const std::string deep = "C:\\" + std::string(240, 'd') + "\\User\\AD"; // 252 characters
    const FallbackCase table[] = {
        // The primary source wins on both lines, without its trailing backslash.
        {"#AppData#", true, {{CSIDL_APPDATA, "C:\\AD\\"}}, "C:\\AD"},
        {"#AppData#", false, {{CSIDL_APPDATA, "C:\\AD"}}, "C:\\AD"},
        {"#LocalAppData#", true, {{CSIDL_LOCAL_APPDATA, "C:\\LAD"}, {CSIDL_APPDATA, AppDataXP}}, "C:\\LAD"},
        {"#AllUsersAppData#", false, {{CSIDL_COMMON_APPDATA, "F:\\"}}, "F:\\"},
        {"#UserDir#", true, {{CSIDL_PROFILE, "C:\\Users\\U"}}, "C:\\Users\\U"},
        {"#MyDocuments#", true, {{CSIDL_PERSONAL, "C:\\Users\\U\\Documents\\"}}, "C:\\Users\\U\\Documents"},
        {"#Desktop#", false, {{CSIDL_DESKTOPDIRECTORY, "C:\\Desk"}}, "C:\\Desk"},
        {"#AllUsersDocuments#", true, {{CSIDL_COMMON_DOCUMENTS, "C:\\Public\\Docs"}}, "C:\\Public\\Docs"},
        {"#AllUsersDesktop#", true, {{CSIDL_COMMON_DESKTOPDIRECTORY, "C:\\Public\\Desk"}}, "C:\\Public\\Desk"},

        // 9x line: the Windows folder and a fixed suffix, whatever AppData is.
        {"#AppData#", false, {}, W("Application Data")},
        {"#LocalAppData#", false, {{CSIDL_APPDATA, AppDataXP}}, W("Application Data")},
        {"#AllUsersAppData#", false, {{CSIDL_APPDATA, AppDataXP}}, W("All Users\\Application Data")},
        {"#AllUsersDocuments#", false, {}, W("All Users\\Documents")},
        {"#AllUsersDesktop#", false, {}, W("All Users\\Desktop")},
        {"#UserDir#", false, {{CSIDL_APPDATA, AppDataXP}}, W("")},
        {"#AllUsersDir#", false, {}, W("All Users")},

        // NT line: derived from AppData where it has the parts, else the Windows folder's profiles.
        {"#AppData#", true, {}, W("Profiles\\Administrator\\Application Data")},
        {"#LocalAppData#", true, {{CSIDL_APPDATA, AppDataXP}},
         "C:\\Documents and Settings\\User1\\Local Settings\\Application Data"},
        {"#LocalAppData#", true, {{CSIDL_APPDATA, "C:\\AD"}}, "C:\\Local Settings\\Application Data"},
        {"#LocalAppData#", true, {{CSIDL_APPDATA, "AD"}}, W("Profiles\\Administrator\\Local Settings\\Application Data")},
        {"#LocalAppData#", true, {}, W("Profiles\\Administrator\\Local Settings\\Application Data")},
        {"#LocalAppData#", true, {{CSIDL_APPDATA, deep}},
         "C:\\" + std::string(240, 'd') + "\\User\\Local Settings\\Application Data"}, // 282 characters
        {"#AllUsersAppData#", true, {{CSIDL_APPDATA, AppDataXP}}, "C:\\Documents and Settings\\All Users\\Application Data"},
        {"#AllUsersAppData#", true, {{CSIDL_APPDATA, "C:\\AD"}}, W("Profiles\\All Users\\Application Data")},
        {"#AllUsersAppData#", true, {}, W("Profiles\\All Users\\Application Data")},
        {"#AllUsersDocuments#", true, {{CSIDL_APPDATA, AppDataXP}}, "C:\\Documents and Settings\\All Users\\Documents"},
        {"#AllUsersDocuments#", true, {}, W("Profiles\\All Users\\Documents")},
        {"#AllUsersDesktop#", true, {{CSIDL_APPDATA, AppDataXP}}, "C:\\Documents and Settings\\All Users\\Desktop"},
        {"#AllUsersDesktop#", true, {{CSIDL_APPDATA, "X\\AD"}}, W("Profiles\\All Users\\Desktop")},
        {"#AllUsersDir#", true, {{CSIDL_APPDATA, AppDataXP}}, "C:\\Documents and Settings\\All Users"},
        {"#AllUsersDir#", true, {}, W("Profiles\\All Users")},
        {"#UserDir#", true, {{CSIDL_APPDATA, AppDataXP}}, "C:\\Documents and Settings\\User1"},
        {"#UserDir#", true, {{CSIDL_APPDATA, "AD"}}, "c:\\"},
        {"#UserDir#", true, {}, "c:\\"},

        // The all-users folder is the parent of the common documents, or a drive root.
        {"#AllUsersDir#", true, {{CSIDL_COMMON_DOCUMENTS, "C:\\Documents and Settings\\All Users\\Documents"}},
         "C:\\Documents and Settings\\All Users"},
        {"#AllUsersDir#", false, {{CSIDL_COMMON_DOCUMENTS, "D:\\Documents"}}, "D:\\"},
        {"#AllUsersDir#", true, {{CSIDL_COMMON_DOCUMENTS, "Documents"}}, "c:\\"},
        {"#AllUsersDir#", true, {{CSIDL_COMMON_DOCUMENTS, "\\Documents"}}, ""},
        {"#AllUsersDir#", true, {{CSIDL_COMMON_DOCUMENTS, "D:\\"}}, "D:\\"},

        // No fallback: the macro stays as written.
        {"#MyDocuments#", true, {}, "#MyDocuments#"},
        {"#mydocuments#", false, {}, "#mydocuments#"},
        {"#DESKTOP#", true, {{CSIDL_APPDATA, AppDataXP}}, "#DESKTOP#"},
    };
    for (const FallbackCase& row : table) {
        qt::ResetFakeShellFolders();
        for (const auto& answer : row.shell)
            qt::SetFakeShellFolder(answer.first, answer.second);
        TheRun.IsNT = row.nt;
        EXPECT_EQ(row.expected, Expand(row.macro))
            << row.macro << (row.nt ? " NT" : " 9x") << " with " << row.shell.size() << " shell answers";
        EXPECT_EQ("<" + row.expected + ">", Expand(std::string("<") + row.macro + ">")) << row.macro;
    }
}

TEST_F(MacroFallbacks, TheLookupsFollowTheColumnsInOrder)
{
    struct {
        const char* macro;
        bool nt;
        std::vector<int> lookups;
    } const table[] = {
        {"#AllUsersDir#", true, {CSIDL_COMMON_DOCUMENTS, CSIDL_APPDATA}},
        {"#AllUsersDir#", false, {CSIDL_COMMON_DOCUMENTS}},
        {"#UserDir#", true, {CSIDL_PROFILE, CSIDL_APPDATA}},
        {"#UserDir#", false, {CSIDL_PROFILE}},
        {"#AppData#", true, {CSIDL_APPDATA}},
        {"#LocalAppData#", true, {CSIDL_LOCAL_APPDATA, CSIDL_APPDATA}},
        {"#Windows#", true, {}},
        {"#Unknown#", true, {}},
    };
    for (const auto& row : table) {
        qt::ResetFakeShellFolders();
        TheRun.IsNT = row.nt;
        char buffer[MAX_PATH];
        ExpandMacros(buffer, row.macro, MAX_PATH); // one expansion: measuring would look up again
        EXPECT_EQ(row.lookups, qt::FakeShellFolderLookups()) << row.macro << (row.nt ? " NT" : " 9x");
    }
}

TEST_F(MacroFallbacks, AFolderHoldingAHashIsNotExpandedAgain)
{
    qt::SetFakeShellFolder(CSIDL_APPDATA, "C:\\a#Windows#b");
    qt::SetFakeShellFolder(CSIDL_PERSONAL, "C:\\x#");
    EXPECT_EQ("C:\\a#Windows#b\\f", Expand("#AppData#\\f"));
    EXPECT_EQ("C:\\x#" + Stripped(WindowsFolder()), Expand("#MyDocuments##Windows#"));
    EXPECT_EQ("C:\\x#", Expand("#MyDocuments##y#"));
}

class ProtectedWithChosenFolders : public MacroFallbacks {};

std::string Folder(int csidl)
{
    return "C:\\chosen\\" + std::to_string(csidl);
}

bool Protected(std::string path)
{
    std::vector<char> buffer(path.begin(), path.end());
    buffer.push_back('\0');
    bool result = IsProtectedFolder(buffer.data());
    EXPECT_EQ(path, buffer.data());
    return result;
}

TEST_F(ProtectedWithChosenFolders, NoShellFolderLeavesWindowsSystemAndTheRegistryValues)
{
    std::string programFiles, commonFiles;
    ASSERT_TRUE(CurrentVersionValue("ProgramFilesDir", &programFiles));
    ASSERT_TRUE(CurrentVersionValue("CommonFilesDir", &commonFiles));
    for (bool nt : {true, false}) {
        TheRun.IsNT = nt;
        EXPECT_TRUE(Protected(WindowsFolder()));
        EXPECT_TRUE(Protected(SystemFolder() + "\\"));
        EXPECT_TRUE(Protected(programFiles));
        EXPECT_TRUE(Protected(commonFiles));
        EXPECT_FALSE(Protected(ShellFolder(CSIDL_DESKTOPDIRECTORY))) << "the lookup failed: not a row";
        EXPECT_FALSE(Protected(Folder(CSIDL_FONTS)));
    }
}

TEST_F(ProtectedWithChosenFolders, ShellRowsByLineWithQuickLaunchAndTheOrderOfLookups)
{
    const int always[] = {CSIDL_DESKTOP, CSIDL_DESKTOPDIRECTORY, CSIDL_FONTS, CSIDL_PROGRAMS, CSIDL_STARTMENU,
                          CSIDL_STARTUP, CSIDL_APPDATA, CSIDL_COMMON_APPDATA, CSIDL_COMMON_DOCUMENTS};
    const int ntOnly[] = {CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_STARTMENU,
                          CSIDL_COMMON_STARTUP};
    for (int csidl : always)
        qt::SetFakeShellFolder(csidl, Folder(csidl) + "\\"); // shell answers lose their backslash
    for (int csidl : ntOnly)
        qt::SetFakeShellFolder(csidl, Folder(csidl));
    for (bool nt : {true, false}) {
        TheRun.IsNT = nt;
        for (int csidl : always) {
            EXPECT_TRUE(Protected(Folder(csidl))) << csidl;
            EXPECT_TRUE(Protected("c:\\CHOSEN\\" + std::to_string(csidl) + "\\")) << csidl;
            EXPECT_FALSE(Protected(Folder(csidl) + "\\sub")) << csidl;
        }
        for (int csidl : ntOnly)
            EXPECT_EQ(nt, Protected(Folder(csidl))) << csidl << (nt ? " NT" : " 9x");
        for (int csidl : {CSIDL_APPDATA, CSIDL_COMMON_APPDATA}) {
            std::string quickLaunch = Folder(csidl) + "\\Microsoft\\Internet Explorer\\Quick Launch";
            EXPECT_TRUE(Protected(quickLaunch)) << csidl;
            EXPECT_TRUE(Protected(quickLaunch + "\\")) << csidl;
            EXPECT_FALSE(Protected(Folder(csidl) + "\\Microsoft\\Internet Explorer")) << csidl;
        }
        EXPECT_FALSE(Protected(Folder(CSIDL_PERSONAL))) << "the lookup failed: not a row";

        qt::ResetFakeShellFolders();
        EXPECT_FALSE(Protected("C:\\not protected"));
        std::vector<int> expected = nt ? std::vector<int>{0, 16, 25, 20, 2, 23, 11, 22, 7, 24, 26, 35, 46, 40, 5}
                                       : std::vector<int>{0, 16, 20, 2, 11, 7, 26, 35, 46, 40, 5};
        EXPECT_EQ(expected, qt::FakeShellFolderLookups());
        for (int csidl : always)
            qt::SetFakeShellFolder(csidl, Folder(csidl) + "\\");
        for (int csidl : ntOnly)
            qt::SetFakeShellFolder(csidl, Folder(csidl));
    }
}

TEST_F(ProtectedWithChosenFolders, TheFirstMatchEndsTheTest)
{
    qt::SetFakeShellFolder(CSIDL_DESKTOP, "C:\\first");
    qt::SetFakeShellFolder(CSIDL_FONTS, "C:\\first");
    EXPECT_TRUE(Protected("C:\\first"));
    EXPECT_EQ(std::vector<int>{CSIDL_DESKTOP}, qt::FakeShellFolderLookups());
}

TEST_F(ProtectedWithChosenFolders, AQuickLaunchFormTooLongForAPathMatchesNothing)
{
    std::string longAppData = "C:\\" + std::string(230, 'a'); // + 41 characters of Quick Launch: 274
    qt::SetFakeShellFolder(CSIDL_APPDATA, longAppData);
    EXPECT_TRUE(Protected(longAppData));
    std::string quickLaunch = longAppData + "\\Microsoft\\Internet Explorer\\Quick Launch";
    EXPECT_FALSE(Protected(quickLaunch.substr(0, MAX_PATH - 1))) << "the form is not cut to fit";
    EXPECT_TRUE(Protected(quickLaunch)) << "a path too long to resolve counts as protected";
}

} // namespace
