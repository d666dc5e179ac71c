// Folder macros against what Wine itself reports for each folder, at every platform level: each
// macro of the table in any letter case, the '#' rules, the trailing backslash, measuring, small
// destinations and expansions too long for the scratch area.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "folders_expected.h"
#include "paths/macros.h"
#include "paths/path_helpers.h"
#include "run/driver.h"
#include "data/run_context.h"

using namespace paths_test;

namespace {

char InstallDirBuffer[MAX_PATH];

class Macros : public ::testing::Test {
protected:
    void SetUp() override
    {
        DetectPlatform();
        std::strcpy(InstallDirBuffer, "C:\\quillon-tests\\install dir\\");
        TheRun.InstallDir = InstallDirBuffer;
    }
    void TearDown() override { TheRun.InstallDir = nullptr; }
};

// The whole expansion, through a destination of exactly the measured size, as the driver does.
std::string Expand(const std::string& source)
{
    DWORD length = ExpandMacros(nullptr, source.c_str(), 0);
    std::vector<char> destination(length + 1, 'Z');
    EXPECT_EQ(length, ExpandMacros(destination.data(), source.c_str(), length + 1)) << source;
    EXPECT_EQ('\0', destination[length]) << source;
    return std::string(destination.data());
}

// Every other letter changed in case: "#aPpDaTa#".
std::string Mixed(std::string text)
{
    for (size_t index = 0; index < text.size(); ++index)
        text[index] = index % 2 ? Upper(text.substr(index, 1))[0] : Lower(text.substr(index, 1))[0];
    return text;
}

std::string CommonFilesAsWindowsHasIt()
{
    std::string value;
    if (CurrentVersionValue("CommonFilesDir", &value))
        return Stripped(value);
    EXPECT_TRUE(CurrentVersionValue("ProgramFilesDir", &value));
    return Stripped(value + (value.back() == '\\' ? "" : "\\") + "Common Files");
}

std::string AllUsersDirAsWindowsHasIt()
{
    std::string documents = ShellFolder(CSIDL_COMMON_DOCUMENTS);
    size_t last = documents.rfind('\\');
    if (last == std::string::npos)
        return "c:\\";
    if (last > 0 && documents[last - 1] == ':')
        return documents.substr(0, last + 1);
    return documents.substr(0, last);
}

struct MacroCase {
    const char* macro;
    std::string expected;
};

std::vector<MacroCase> EveryMacro()
{
    std::string programFiles;
    EXPECT_TRUE(CurrentVersionValue("ProgramFilesDir", &programFiles));
    return {
        {"#Windows#", Stripped(WindowsFolder())},
        {"#System#", Stripped(SystemFolder())},
        {"#TempDir#", Stripped(TempFolder())},
        {"#CommonFiles#", CommonFilesAsWindowsHasIt()},
        {"#Program Files#", Stripped(programFiles)},
        {"#MyDocuments#", Stripped(ShellFolder(CSIDL_PERSONAL))},
        {"#Desktop#", Stripped(ShellFolder(CSIDL_DESKTOPDIRECTORY))},
        {"#AppData#", Stripped(ShellFolder(CSIDL_APPDATA))},
        {"#LocalAppData#", Stripped(ShellFolder(CSIDL_LOCAL_APPDATA))},
        {"#AllUsersAppData#", Stripped(ShellFolder(CSIDL_COMMON_APPDATA))},
        {"#AllUsersDocuments#", Stripped(ShellFolder(CSIDL_COMMON_DOCUMENTS))},
        {"#AllUsersDesktop#", Stripped(ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY))},
        {"#UserDir#", Stripped(ShellFolder(CSIDL_PROFILE))},
        {"#AllUsersDir#", AllUsersDirAsWindowsHasIt()},
        {"#InstallDir#", "C:\\quillon-tests\\install dir"},
    };
}

// The name this copy of the test program runs under tells the level wine-run.sh asked for.
std::string RequestedLevel()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name = Lower(std::string(path, length));
    for (const char* level : {"win98", "winxp", "win10"}) {
        if (name.size() > 10 && name.compare(name.size() - 10, 10, std::string("-") + level + ".exe") == 0)
            return level;
    }
    return "default";
}

TEST(Platform, WineReportsTheLevelThisRunAskedFor)
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(GetVersionExA(&version));
    std::string level = RequestedLevel();
    struct Expected {
        const char* level;
        DWORD platform, major, minor;
    } const table[] = {
        {"win98", VER_PLATFORM_WIN32_WINDOWS, 4, 10},
        {"winxp", VER_PLATFORM_WIN32_NT, 5, 1},
        {"win10", VER_PLATFORM_WIN32_NT, 10, 0},
        {"default", VER_PLATFORM_WIN32_NT, 6, 1},
    };
    for (const Expected& row : table) {
        if (level != row.level)
            continue;
        EXPECT_EQ(row.platform, version.dwPlatformId) << level;
        EXPECT_EQ(row.major, version.dwMajorVersion) << level;
        EXPECT_EQ(row.minor, version.dwMinorVersion) << level;
    }
    DetectPlatform();
    EXPECT_EQ(level != "win98", TheRun.IsNT);
}

TEST_F(Macros, EveryMacroNamesTheFolderWindowsReportsInAnyLetterCase)
{
    for (const MacroCase& row : EveryMacro()) {
        ASSERT_FALSE(row.expected.empty()) << row.macro << ": Wine named no folder";
        for (const std::string& macro : {std::string(row.macro), Upper(row.macro), Lower(row.macro), Mixed(row.macro)}) {
            EXPECT_EQ(row.expected, Expand(macro)) << macro;
            EXPECT_EQ(row.expected.size(), ExpandMacros(nullptr, macro.c_str(), 0)) << macro;
            EXPECT_EQ("\"" + row.expected + "\\x.exe\" /a#", Expand("\"" + macro + "\\x.exe\" /a#")) << macro;
        }
    }
}

TEST_F(Macros, SeveralMacrosInOneText)
{
    std::string expected = Stripped(WindowsFolder()) + "\\Fonts;" + Stripped(SystemFolder()) + ";" +
                           "C:\\quillon-tests\\install dir\\#";
    EXPECT_EQ(expected, Expand("#windows#\\Fonts;#SYSTEM##nothing#;#InstallDir#\\#"));
}

TEST_F(Macros, HashRules)
{
    struct {
        const char* source;
        const char* expected;
    } const table[] = {
        {"", ""},
        {"C:\\no macro here\\file.txt", "C:\\no macro here\\file.txt"},
        {"#", "#"},
        {"a#b", "a#b"},
        {"#Windows", "#Windows"},        // no second '#': unchanged
        {"##", ""},                      // the empty name is in no row
        {"a##b", "ab"},
        {"a#b#c#d", "ac#d"},             // #b# goes, the lone '#' stays
        {"x#Unknown#y", "xy"},
        {"#Windows #", ""},              // names match whole
        {"# Windows#", ""},
        {"#Window#", ""},
        {"#Windowss#", ""},
        {"#Windows\xE9#", ""},
        {"###", "#"},
    };
    for (const auto& row : table)
        EXPECT_EQ(row.expected, Expand(row.source)) << row.source;
}

TEST_F(Macros, TempDirAndInstallDirLoseTheirTrailingBackslashButARootKeepsIt)
{
    ASSERT_EQ('\\', TempFolder().back()) << "GetTempPathA ends in a backslash";
    EXPECT_EQ(TempFolder().substr(0, TempFolder().size() - 1), Expand("#TempDir#"));
    EXPECT_EQ(TempFolder() + "x", Expand("#TempDir#\\x"));

    struct {
        const char* installDir;
        const char* expected;
    } const table[] = {
        {"C:\\Program Files\\App\\", "C:\\Program Files\\App"},
        {"D:\\", "D:\\"},
        {"C:\\App\\\\", "C:\\App\\"}, // only one backslash goes
        {"C:\\App", "C:\\App"},
        {"", ""},
    };
    for (const auto& row : table) {
        std::strcpy(InstallDirBuffer, row.installDir);
        EXPECT_EQ(row.expected, Expand("#InstallDir#")) << row.installDir;
    }
}

TEST_F(Macros, MeasuringAndSmallDestinationsNeverWritePastTheSizeGiven)
{
    const std::string source = "#Windows#\\Fonts\\x.ttf";
    const std::string whole = Stripped(WindowsFolder()) + "\\Fonts\\x.ttf";
    const DWORD length = static_cast<DWORD>(whole.size());
    EXPECT_EQ(length, ExpandMacros(nullptr, source.c_str(), 0));
    EXPECT_EQ(length, ExpandMacros(nullptr, source.c_str(), 100)); // null destination: size ignored

    const DWORD guard = 16;
    for (DWORD size = 0; size <= length + 4; ++size) {
        std::vector<char> buffer(size + guard, '@');
        EXPECT_EQ(length, ExpandMacros(buffer.data(), source.c_str(), size)) << size;
        for (DWORD index = size; index < size + guard; ++index)
            ASSERT_EQ('@', buffer[index]) << "written past size " << size << " at " << index;
        if (size == 0)
            continue;
        DWORD copied = size - 1 < length ? size - 1 : length;
        EXPECT_EQ(whole.substr(0, copied), std::string(buffer.data(), copied)) << size;
        for (DWORD index = copied; index < size; ++index)
            EXPECT_EQ('\0', buffer[index]) << "size " << size << " byte " << index;
    }
}

TEST_F(Macros, ExpansionsLongerThanTheScratchAreaAreCutAtItsEnd)
{
    const DWORD limit = 65499; // the scratch area holds 65,500 bytes with the NUL
    const std::string windows = Stripped(WindowsFolder());

    std::string plain(70000, 'a');
    EXPECT_EQ(limit, ExpandMacros(nullptr, plain.c_str(), 0));
    std::vector<char> buffer(70000 + 16, '@');
    EXPECT_EQ(limit, ExpandMacros(buffer.data(), plain.c_str(), 70000));
    EXPECT_EQ(std::string(limit, 'a'), std::string(buffer.data()));
    EXPECT_EQ('@', buffer[70000]);

    std::string many;
    std::string expanded;
    while (expanded.size() < 80000) {
        many += "#windows#;";
        expanded += windows + ";";
    }
    std::fill(buffer.begin(), buffer.end(), '@');
    EXPECT_EQ(limit, ExpandMacros(buffer.data(), many.c_str(), 70000));
    EXPECT_EQ(expanded.substr(0, limit), std::string(buffer.data()));

    // A token longer than any name names nothing, however long it is.
    std::string token = "a#" + std::string(5000, 'x') + "#b";
    EXPECT_EQ("ab", Expand(token));
    EXPECT_EQ("ab", Expand("a#" + std::string(MACRO_BUFFER_SIZE - 2, 'x') + "#b"));
}

TEST_F(Macros, ResolveMacroTakesOneTokenInItsBuffer)
{
    char buffer[MACRO_BUFFER_SIZE];
    std::strcpy(buffer, "#SYSTEM#");
    ResolveMacro(buffer);
    EXPECT_EQ(Stripped(SystemFolder()), buffer);
    std::strcpy(buffer, "#None#");
    ResolveMacro(buffer);
    EXPECT_STREQ("", buffer);
}

TEST_F(Macros, ProgramFilesAndCommonFilesFollowTheRegistry)
{
    std::string programFiles;
    ASSERT_TRUE(CurrentVersionValue("ProgramFilesDir", &programFiles));
    {
        CurrentVersionValueChange common("CommonFilesDir", nullptr);
        EXPECT_EQ(programFiles + "\\Common Files", Expand("#CommonFiles#"));
        {
            CurrentVersionValueChange program("ProgramFilesDir", nullptr);
            EXPECT_EQ("", Expand("#CommonFiles#")) << "the key opens but names neither folder";
            EXPECT_EQ("[#program files#]", Expand("[#program files#]")) << "no value: the macro stays";
        }
        CurrentVersionValueChange program("ProgramFilesDir", "E:\\");
        EXPECT_EQ("E:\\Common Files", Expand("#CommonFiles#"));
        EXPECT_EQ("E:\\", Expand("#Program Files#"));
    }
    CurrentVersionValueChange common("CommonFilesDir", "E:\\Shared\\");
    EXPECT_EQ("E:\\Shared", Expand("#CommonFiles#"));
    std::string restored;
    ASSERT_TRUE(CurrentVersionValue("ProgramFilesDir", &restored));
    EXPECT_EQ(programFiles, restored);
}

} // namespace
