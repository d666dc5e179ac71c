// The pre-uninstall command when memory for the macro expansion cannot be had: the command is
// skipped, and not taken relative to the folder instead. A command without a macro needs no
// memory and still runs. Built with the heap that fails on request: every request fails here.
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

char InstallDir[PATH_SIZE];
char TargetPath[PATH_SIZE];

TEST(PreCommandWithoutMemory, AMacroCommandIsSkippedAndAPlainOneRuns)
{
    // The failing heap reads this once, at the first request: fail them all.
    ASSERT_TRUE(SetEnvironmentVariableA("QUILLON_FAIL_ALLOC", "0,100000"));
    DetectPlatform();
    std::string folder = qt::FreshFolder("unit-precommand-nomem");
    std::string app = qt::Join(folder, "App");
    CreateDirectoryA(app.c_str(), nullptr);
    SHCreateDirectoryExA(nullptr, qt::Join(app, "#InstallDir#").c_str(), nullptr);
    qt::InstallRecorder(qt::Join(app, "cleanup.exe"));
    qt::InstallRecorder(qt::Join(app, "#InstallDir#\\cleanup.exe"));
    ASSERT_TRUE(CopyText(InstallDir, PATH_SIZE, (app + "\\").c_str()));
    TheRun.InstallDir = InstallDir;
    TheRun.TargetPath = TargetPath;
    std::string recordFile = qt::Join(folder, "records.txt");
    qt::ScopedVariable record("QUILLON_RECORD", recordFile);

    for (const char* command : {"\"#InstallDir#\\cleanup.exe\" /quiet", "cleanup.exe"}) {
        quillon::Settings settings;
        settings.flags = SETTINGS_WAIT_PRE_COMMAND;
        settings.preCommand = command;
        quillon::Bytes body = quillon::EncodeSettingsBody(settings);
        TheRun.SettingsBlock = body.data();
        qt::RunWithin(60000, [] { RunPreUninstallCommand(); }, "RunPreUninstallCommand");
        TheRun.SettingsBlock = nullptr;
    }
    std::vector<qt::Record> records = qt::ReadRecords(recordFile);
    ASSERT_EQ(1u, records.size()) << "the macro command ran, in one form or another";
    EXPECT_EQ("\"" + qt::Join(app, "cleanup.exe") + "\"", records[0].commandLine);
}

} // namespace
