// The pre-uninstall command in-process: each form of the command text gives the program and the
// arguments it should, relative to the uninstaller's folder or through a macro; the switches
// decide whether it runs; a composed line that does not fit is skipped, never cut. The programs
// are copies of the recorder.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>

#include "data/format.h"
#include "data/text.h"
#include "format_writer.h"
#include "run/driver.h"
#include "run/pre_command.h"
#include "data/run_context.h"
#include "shell_support.h"

namespace {

using qt::WindowsFolder;

class PreCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        DetectPlatform();
        ASSERT_TRUE(InitializeRun(GetModuleHandleA(nullptr)));
        folder_ = qt::FreshFolder("unit-precommand");
        app_ = qt::Join(folder_, "App");
        CreateDirectoryA(app_.c_str(), nullptr);
        CreateDirectoryA(qt::Join(app_, "tools").c_str(), nullptr);
        SetInstallDir(app_ + "\\");
        recordFile_ = qt::Join(folder_, "records.txt");
        record_.reset(new qt::ScopedVariable("QUILLON_RECORD", recordFile_));
        TheRun.SwitchQ = TheRun.SwitchS = TheRun.SwitchX = false;
    }
    void TearDown() override
    {
        TheRun.SettingsBlock = nullptr;
        TheRun.SettingsLength = 0;
        FinalizeRun();
        record_.reset();
    }
    void SetInstallDir(const std::string& folder)
    {
        ASSERT_TRUE(CopyText(TheRun.InstallDir, PATH_SIZE, folder.c_str())) << folder;
    }
    // Runs the command with the wait flag, so that whatever it started has recorded on return.
    std::vector<qt::Record> Run(const std::string& command)
    {
        quillon::Settings settings;
        settings.flags = SETTINGS_WAIT_PRE_COMMAND;
        settings.preCommand = command;
        settings_ = quillon::EncodeSettingsBody(settings);
        TheRun.SettingsBlock = settings_.data();
        TheRun.SettingsLength = static_cast<DWORD>(settings_.size());
        DeleteFileA(recordFile_.c_str());
        qt::RunWithin(60000, [] { RunPreUninstallCommand(); }, "RunPreUninstallCommand");
        return qt::ReadRecords(recordFile_);
    }

    std::string folder_, app_, recordFile_;
    quillon::Bytes settings_;
    std::unique_ptr<qt::ScopedVariable> record_;
};

struct RowCase {
    const char* command; // A stands for the uninstaller's folder, W for the Windows folder
    const char* program; // empty: nothing may start
    const char* arguments;
};

// The command forms, each with the program and arguments it must give.
const RowCase Rows[] = {
    {"cleanup.exe", "A\\cleanup.exe", ""},
    {"\"cleanup.exe\" /quiet", "A\\cleanup.exe", "/quiet"},
    {"\"  tools\\cleanup.exe  \"   -y", "A\\tools\\cleanup.exe", "-y"},
    {"\"#InstallDir#\\cleanup.exe\" /quiet", "A\\cleanup.exe", "/quiet"},
    {"\"cleanup.exe\"", "A\\cleanup.exe", ""},
    {"#Windows#\\quillon-precommand.exe", "W\\quillon-precommand.exe", ""},
    {"#windows#\\quillon-precommand.exe", "W\\quillon-precommand.exe", ""},
    {"tool.exe /s", "", ""},           // one name, "A\tool.exe /s": no such file can exist
    {"tool.exe -s", "A\\tool.exe -s", ""}, // one name, and here such a file exists
    {"   cleanup.exe", "A\\cleanup.exe", ""},
    {"\" cleanup.exe\"", "A\\cleanup.exe", ""},
    {"\"cleanup.exe\"/quiet", "A\\cleanup.exe", "/quiet"},
};

std::string Fill(const std::string& pattern, const std::string& app, const std::string& windows)
{
    std::string text;
    for (char c : pattern) {
        if (c == 'A')
            text += app;
        else if (c == 'W')
            text += windows;
        else
            text += c;
    }
    return text;
}

TEST_F(PreCommand, EachFormGivesItsProgramAndArguments)
{
    qt::InstallRecorder(qt::Join(app_, "cleanup.exe"));
    qt::InstallRecorder(qt::Join(app_, "tools\\cleanup.exe"));
    qt::InstallRecorder(qt::Join(app_, "tool.exe"));
    qt::InstallRecorder(qt::Join(app_, "tool.exe -s"));
    std::string windowsProgram = qt::Join(WindowsFolder(), "quillon-precommand.exe");
    qt::InstallRecorder(windowsProgram);

    for (const RowCase& row : Rows) {
        SCOPED_TRACE(row.command);
        std::vector<qt::Record> records = Run(row.command);
        std::string program = Fill(row.program, app_, WindowsFolder());
        if (program.empty()) {
            EXPECT_TRUE(records.empty());
            continue;
        }
        ASSERT_EQ(1u, records.size());
        std::string expected = "\"" + program + "\"";
        if (row.arguments[0] != '\0')
            expected += std::string(" ") + row.arguments;
        EXPECT_EQ(expected, records[0].commandLine);
        EXPECT_EQ(program.substr(0, program.rfind('\\')), records[0].directory) << "runs in its own folder";
    }
    DeleteFileA(windowsProgram.c_str());
}

// "##" is a macro of no name and expands to nothing, which leaves the bare interpreter name.
TEST_F(PreCommand, AnEmptyMacroCanLeaveTheBareInterpreterName)
{
    if (!TheRun.IsNT)
        GTEST_SKIP() << "there is no command interpreter to start on the 9x line under Wine";
    std::string child = qt::Join(app_, "child.exe");
    qt::InstallRecorder(child);
    qt::InstallRecorder(qt::Join(app_, "cmd.exe")); // the uninstaller's folder is searched first by a bare name
    std::vector<qt::Record> records = Run("\"##cmd.exe\" /c " + child + " from-cmd");
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(child, records[0].module) << "the planted cmd.exe must not run";
    EXPECT_NE(std::string::npos, records[0].commandLine.find("from-cmd"));
}

struct SwitchCase {
    bool q, s, x;
    bool runs;
};

TEST_F(PreCommand, TheSwitchesDecideWhetherItRuns)
{
    qt::InstallRecorder(qt::Join(app_, "cleanup.exe"));
    const SwitchCase cases[] = {
        {false, false, false, true}, // no switch
        {true, false, false, true},  // /Q
        {true, true, false, true},   // /S
        {true, false, true, false},  // /X
        {true, true, true, true},    // /X /S
    };
    for (const SwitchCase& c : cases) {
        TheRun.SwitchQ = c.q;
        TheRun.SwitchS = c.s;
        TheRun.SwitchX = c.x;
        EXPECT_EQ(c.runs ? 1u : 0u, Run("cleanup.exe").size()) << "Q " << c.q << " S " << c.s << " X " << c.x;
    }
}

TEST_F(PreCommand, AMissingProgramIsPassedOver)
{
    EXPECT_TRUE(Run("\"missing.exe\" /quiet").empty());
    EXPECT_TRUE(Run("#InstallDir#\\missing.exe").empty());
}

// The uninstaller's folder and the command together hold at most 259 characters. One more is
// skipped: cut, the line would name the program planted at the cut.
TEST_F(PreCommand, ALineLongerThanTheWorkingPathIsSkipped)
{
    std::string deep = folder_;
    while (deep.size() < 236)
        deep += "\\d";
    ASSERT_EQ(0, SHCreateDirectoryExA(nullptr, deep.c_str(), nullptr));
    std::string installDir = deep + "\\" + std::string(247 - deep.size(), 'f');
    ASSERT_TRUE(CreateDirectoryA(installDir.c_str(), nullptr)) << installDir;
    installDir += "\\";
    ASSERT_EQ(249u, installDir.size());
    SetInstallDir(installDir);
    qt::InstallRecorder(installDir + "cleanup.exe");
    qt::InstallRecorder(installDir + "cleanup.ex");

    std::vector<qt::Record> records = Run("cleanup.ex"); // 258 characters: fits
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ("\"" + installDir + "cleanup.ex\"", records[0].commandLine);
    EXPECT_TRUE(Run("cleanup.exe").empty()) << "260 characters were cut to another program";
    EXPECT_TRUE(Run("\"cleanup.ex\"").empty()) << "with the quotes the line has 261 characters";
    qt::DeleteLongFile(installDir + "cleanup.exe");
    qt::DeleteLongFile(installDir + "cleanup.ex");
}

} // namespace
