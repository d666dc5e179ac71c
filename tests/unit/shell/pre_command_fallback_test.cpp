// A pre-uninstall command whose macro cannot be expanded falls back to the relative form: the
// text, macro and all, is taken relative to the uninstaller's folder. Built with the shell folder
// lookup that answers what the test chooses, so "#MyDocuments#" and "#Desktop#" can fail.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>

#include "data/format.h"
#include "data/text.h"
#include "fake_shell_folders.h"
#include "format_writer.h"
#include "run/driver.h"
#include "run/pre_command.h"
#include "data/run_context.h"
#include "shell_support.h"

namespace {

class PreCommandFallback : public ::testing::Test {
protected:
    void SetUp() override
    {
        DetectPlatform();
        ASSERT_TRUE(InitializeRun(GetModuleHandleA(nullptr)));
        qt::ResetFakeShellFolders();
        folder_ = qt::FreshFolder("unit-precommand-fallback");
        app_ = qt::Join(folder_, "App");
        CreateDirectoryA(app_.c_str(), nullptr);
        ASSERT_TRUE(CopyText(TheRun.InstallDir, PATH_SIZE, (app_ + "\\").c_str()));
        recordFile_ = qt::Join(folder_, "records.txt");
        record_.reset(new qt::ScopedVariable("QUILLON_RECORD", recordFile_));
    }
    void TearDown() override
    {
        TheRun.SettingsBlock = nullptr;
        FinalizeRun();
        qt::ResetFakeShellFolders();
        record_.reset();
    }
    std::vector<qt::Record> Run(const std::string& command)
    {
        quillon::Settings settings;
        settings.flags = SETTINGS_WAIT_PRE_COMMAND;
        settings.preCommand = command;
        settings_ = quillon::EncodeSettingsBody(settings);
        TheRun.SettingsBlock = settings_.data();
        DeleteFileA(recordFile_.c_str());
        qt::RunWithin(60000, [] { RunPreUninstallCommand(); }, "RunPreUninstallCommand");
        return qt::ReadRecords(recordFile_);
    }
    void Plant(const std::string& relative) { qt::PlantRecorder(app_, relative); }

    std::string folder_, app_, recordFile_;
    quillon::Bytes settings_;
    std::unique_ptr<qt::ScopedVariable> record_;
};

TEST_F(PreCommandFallback, AMacroThatCannotBeExpandedIsTakenRelativeToTheFolder)
{
    Plant("#MyDocuments#\\cleanup.exe");
    Plant("#Desktop#\\tool.exe");
    struct Case {
        const char* command;
        const char* expected; // A stands for the uninstaller's folder
    } cases[] = {
        {"\"#MyDocuments#\\cleanup.exe\" /quiet", "\"A\\#MyDocuments#\\cleanup.exe\" /quiet"},
        {"\"  #MyDocuments#\\cleanup.exe\"", "\"A\\#MyDocuments#\\cleanup.exe\""},
        {"#Desktop#\\tool.exe", "\"A\\#Desktop#\\tool.exe\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        std::vector<qt::Record> records = Run(c.command);
        ASSERT_EQ(1u, records.size());
        std::string expected = c.expected;
        expected.replace(expected.find('A'), 1, app_);
        EXPECT_EQ(expected, records[0].commandLine);
    }
}

TEST_F(PreCommandFallback, OnceTheFolderIsFoundTheMacroFormIsUsed)
{
    std::string documents = qt::Join(folder_, "Documents");
    CreateDirectoryA(documents.c_str(), nullptr);
    qt::InstallRecorder(qt::Join(documents, "cleanup.exe"));
    Plant("#MyDocuments#\\cleanup.exe");
    qt::SetFakeShellFolder(CSIDL_PERSONAL, documents);
    std::vector<qt::Record> records = Run("\"#MyDocuments#\\cleanup.exe\" /quiet");
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ("\"" + qt::Join(documents, "cleanup.exe") + "\" /quiet", records[0].commandLine);
}

} // namespace
