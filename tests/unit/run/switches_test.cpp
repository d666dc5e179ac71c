// The command-line switches, table-driven, and the platform levels as Wine reports them.
#include <gtest/gtest.h>

#include "run/driver.h"
#include "data/run_context.h"

namespace {

struct SwitchCase {
    const char* text;
    bool q, s, x;
};

const SwitchCase SwitchCases[] = {
    {"", false, false, false},
    {"/Q", true, false, false},
    {"/q /s", true, true, false},
    {"/q/s", true, true, false},
    {"-Q-S", true, true, false},
    {"/qx", true, false, false},
    {"/q foo /s", true, false, false},
    {"/ q", false, false, false},
    {"/", false, false, false},
    {"-", false, false, false},
    {"-q", true, false, false},
    {"/Quiet", true, false, false},
    {"/Silent", true, true, false},
    {"/qs", true, false, false},
    {"/X", true, false, true},
    {"/x /S", true, true, true},
    {"   /s", true, true, false},
    {"/?", false, false, false},
    {"/help", false, false, false},
    {"foo /q", false, false, false},
    {"/q   -x", true, false, true},
    {"\t/q", false, false, false}, // only the space counts as a blank
    {"/q\t/s", true, true, false},  // a word ends at the next slash, blank or not
};

TEST(Switches, TableOfCommandLines)
{
    for (const SwitchCase& c : SwitchCases) {
        TheRun.SwitchQ = TheRun.SwitchS = TheRun.SwitchX = false;
        ParseSwitches(c.text);
        EXPECT_EQ(c.q, TheRun.SwitchQ) << '"' << c.text << '"';
        EXPECT_EQ(c.s, TheRun.SwitchS) << '"' << c.text << '"';
        EXPECT_EQ(c.x, TheRun.SwitchX) << '"' << c.text << '"';
    }
}

TEST(Switches, NullTextSetsNothing)
{
    TheRun.SwitchQ = TheRun.SwitchS = TheRun.SwitchX = false;
    ParseSwitches(nullptr);
    EXPECT_FALSE(TheRun.SwitchQ || TheRun.SwitchS || TheRun.SwitchX);
}

TEST(Platform, FlagsFollowTheReportedVersion)
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(GetVersionExA(&version));
    DetectPlatform();
    EXPECT_EQ(version.dwPlatformId == VER_PLATFORM_WIN32_NT, TheRun.IsNT);
    EXPECT_EQ(TheRun.IsNT && version.dwMajorVersion >= 6, TheRun.IsVistaOrLater);
    if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        EXPECT_FALSE(TheRun.IsVistaOrLater);
    }
}

TEST(StartUp, InstallDirIsTheProgramFolderWithOneBackslash)
{
    ASSERT_TRUE(InitializeRun(GetModuleHandleA(nullptr)));
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, path, sizeof path), 0u);
    *strrchr(path, '\\') = '\0';
    EXPECT_EQ(std::string(path) + "\\", TheRun.InstallDir);
    EXPECT_EQ(-1, TheRun.ReadOnlyPolicy);
    FinalizeRun();
    EXPECT_EQ(nullptr, TheRun.InstallDir);
    EXPECT_EQ(nullptr, TheRun.TargetPath);
    EXPECT_EQ(nullptr, TheRun.ModulePath);
}

} // namespace
