// The pre-uninstall command end to end: real uninstallers under Wine start copies of the recorder
// installed under the names their commands give. Every form of the command text, a macro that
// cannot be expanded, the switches, waiting (and a command that ends with 259), a missing program
// and the bare interpreter name.
#include <gtest/gtest.h>

#include <string>

#include "shell_support.h"
#include "win_test.h"

namespace {

using qt::WindowsFolder;

class PreCommandRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_.reset(new qt::RecordedTestFolder("shell-"));
        base_ = folder_->base;
        recordFile_ = folder_->recordFile;
        round_ = 0;
    }
    void TearDown() override
    {
        variables_.clear();
        folder_.reset();
    }
    // A fresh installation folder with an uninstaller for command and a listed file data.txt.
    void Install(const std::string& command, bool wait)
    {
        app_ = qt::Join(base_, "App" + std::to_string(++round_));
        ASSERT_TRUE(CreateDirectoryA(app_.c_str(), nullptr));
        exe_ = qt::Join(app_, "uninstall.exe");
        data_ = qt::Join(app_, "data.txt");
        qt::WriteTextFile(data_, "listed");
        quillon::UninstallData data = qt::StandardData();
        data.files = {{".", "data.txt", 0}};
        data.settings.flags = wait ? SETTINGS_WAIT_PRE_COMMAND : 0;
        data.settings.preCommand = command;
        qt::WriteUninstaller(exe_, data);
    }
    void Plant(const std::string& relative) { qt::PlantRecorder(app_, relative); }
    void Set(const std::string& name, const std::string& value)
    {
        variables_.emplace_back(new qt::ScopedVariable(name, value));
    }
    // Runs the uninstaller; boxes are answered only when no switch is given.
    qt::Session RunStub(const std::string& switches)
    {
        DeleteFileA(recordFile_.c_str());
        std::vector<int> answers;
        if (switches.empty())
            answers = {IDOK, IDOK};
        qt::Session session = qt::RunAnswering(exe_, switches, answers, 60000);
        EXPECT_EQ(0u, session.exitCode);
        return session;
    }
    std::vector<qt::Record> Records() { return qt::ReadRecords(recordFile_); }

    std::string base_, app_, exe_, data_, recordFile_;
    int round_ = 0;
    std::unique_ptr<qt::RecordedTestFolder> folder_;
    std::vector<std::unique_ptr<qt::ScopedVariable>> variables_;
};

struct RowCase {
    const char* command; // A stands for the installation folder, W for the Windows folder
    const char* program; // empty: nothing may start
    const char* arguments;
};

const RowCase Rows[] = {
    {"cleanup.exe", "A\\cleanup.exe", ""},
    {"\"cleanup.exe\" /quiet", "A\\cleanup.exe", "/quiet"},
    {"\"  tools\\cleanup.exe  \"   -y", "A\\tools\\cleanup.exe", "-y"},
    {"\"#InstallDir#\\cleanup.exe\" /quiet", "A\\cleanup.exe", "/quiet"},
    {"\"cleanup.exe\"", "A\\cleanup.exe", ""},
    {"#Windows#\\quillon-e2e-precommand.exe", "W\\quillon-e2e-precommand.exe", ""},
    {"tool.exe /s", "", ""},               // one name "A\tool.exe /s", which no file can have
    {"tool.exe -s", "A\\tool.exe -s", ""}, // one name, and a file of that name exists
};

std::string Fill(const std::string& pattern, const std::string& app)
{
    std::string text;
    for (char c : pattern) {
        if (c == 'A')
            text += app;
        else if (c == 'W')
            text += WindowsFolder();
        else
            text += c;
    }
    return text;
}

TEST_F(PreCommandRun, EachFormOfTheCommandStartsItsProgram)
{
    std::string windowsProgram = qt::Join(WindowsFolder(), "quillon-e2e-precommand.exe");
    qt::InstallRecorder(windowsProgram);
    for (const RowCase& row : Rows) {
        SCOPED_TRACE(row.command);
        Install(row.command, true);
        for (const char* name : {"cleanup.exe", "tools\\cleanup.exe", "tool.exe", "tool.exe -s"})
            Plant(name);
        RunStub("/S");
        std::vector<qt::Record> records = Records();
        std::string program = Fill(row.program, app_);
        if (program.empty()) {
            EXPECT_TRUE(records.empty()) << records.front().commandLine;
            continue;
        }
        ASSERT_EQ(1u, records.size());
        std::string expected = "\"" + program + "\"";
        if (row.arguments[0] != '\0')
            expected += std::string(" ") + row.arguments;
        EXPECT_EQ(expected, records[0].commandLine);
        EXPECT_EQ(program.substr(0, program.rfind('\\')), records[0].directory);
        EXPECT_FALSE(qt::FileExists(data_)) << "the removal went on";
    }
    DeleteFileA(windowsProgram.c_str());
}

// "#Program Files#" has no fallback: without its registry value the macro stays, and the command
// is taken relative to the installation folder, macro and all.
TEST_F(PreCommandRun, AMacroThatCannotBeExpandedFallsBackToTheInstallationFolder)
{
    const char* const key = "Software\\Microsoft\\Windows\\CurrentVersion";
    char saved[MAX_PATH] = "";
    DWORD size = sizeof saved;
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_LOCAL_MACHINE, key, "ProgramFilesDir", RRF_RT_REG_SZ, nullptr, saved, &size));
    HKEY handle;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_SET_VALUE, &handle));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueA(handle, "ProgramFilesDir"));

    Install("\"#Program Files#\\tool.exe\" /fallback", true);
    Plant("#Program Files#\\tool.exe");
    RunStub("/S");

    RegSetValueExA(handle, "ProgramFilesDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(saved), lstrlenA(saved) + 1);
    RegCloseKey(handle);
    std::vector<qt::Record> records = Records();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ("\"" + qt::Join(app_, "#Program Files#\\tool.exe") + "\" /fallback", records[0].commandLine);
}

TEST_F(PreCommandRun, TheSwitchesDecideWhetherTheCommandRuns)
{
    struct Case {
        const char* switches;
        bool runs;
    } cases[] = {{"", true}, {"/Q", true}, {"/S", true}, {"/X", false}, {"/X /S", true}, {"-s -x", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.switches);
        Install("cleanup.exe", true);
        Plant("cleanup.exe");
        RunStub(c.switches);
        EXPECT_EQ(c.runs ? 1u : 0u, Records().size());
        EXPECT_FALSE(qt::FileExists(data_));
    }
}

// With the wait flag the removal begins only once the command has ended: the command still sees
// the listed file after a pause of its own.
TEST_F(PreCommandRun, WithTheWaitFlagTheRemovalWaitsForTheCommand)
{
    Install("cleanup.exe", true);
    Plant("cleanup.exe");
    Set("QUILLON_RECORD_SLEEP", "1500");
    Set("QUILLON_RECORD_CHECK", data_);
    RunStub("/S");
    std::vector<qt::Record> records = Records();
    ASSERT_EQ(1u, records.size()) << "the run ended before the command had";
    EXPECT_EQ(1, records[0].checked) << "the listed file was removed while the command ran";
    EXPECT_FALSE(qt::FileExists(data_));
}

TEST_F(PreCommandRun, WithoutTheWaitFlagTheRunGoesOnAtOnce)
{
    Install("cleanup.exe", false);
    Plant("cleanup.exe");
    Set("QUILLON_RECORD_SLEEP", "4000");
    Set("QUILLON_RECORD_CHECK", data_);
    RunStub("/S");
    EXPECT_TRUE(Records().empty()) << "the run waited for the command";
    ASSERT_TRUE(qt::WaitForRecords(recordFile_, 1, 30000));
    EXPECT_EQ(0, Records()[0].checked) << "the listed file was still there after the run had ended";
}

TEST_F(PreCommandRun, ACommandThatEndsWith259DoesNotHangTheRun)
{
    Install("cleanup.exe", true);
    Plant("cleanup.exe");
    Set("QUILLON_RECORD_EXIT", "259");
    qt::Session session = RunStub("/S");
    EXPECT_EQ(1u, Records().size());
    EXPECT_FALSE(qt::FileExists(data_));
}

TEST_F(PreCommandRun, AMissingProgramShowsNothingAndTheRemovalGoesOn)
{
    for (const char* command : {"missing.exe", "\"#InstallDir#\\missing.exe\" /quiet", "tool.exe /s"}) {
        SCOPED_TRACE(command);
        Install(command, true);
        qt::Session session = RunStub("");
        ASSERT_EQ(2u, session.boxes.size()) << "only the confirmation and the closing message";
        EXPECT_EQ("C:confirm", session.boxes[0].text);
        EXPECT_EQ("F:finished", session.boxes[1].text);
        EXPECT_FALSE(qt::FileExists(data_));
    }
}

// "##" expands to nothing and leaves the bare name: the system's interpreter runs, never a
// "cmd.exe" in the uninstaller's own folder, where a bare name is looked for first.
TEST_F(PreCommandRun, TheBareInterpreterNameIsTheSystemOne)
{
    std::string child = qt::Join(base_, "child.exe");
    qt::InstallRecorder(child);
    Install("\"##cmd.exe\" /c " + child + " from-cmd", true);
    Plant("cmd.exe");
    RunStub("/S");
    std::vector<qt::Record> records = Records();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(child, records[0].module);
    EXPECT_NE(std::string::npos, records[0].commandLine.find("from-cmd"));
}

} // namespace
