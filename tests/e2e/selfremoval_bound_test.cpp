// The self-removal batch gives up: an executable that can never be deleted (here one that carries
// the read-only attribute, which "del" refuses) keeps the hidden interpreter trying for about a
// minute only, then the batch deletes itself. With delme1.bat and delme2.bat taken, the batch is
// delme3.bat, written as documented and started hidden by the system's interpreter. One run of
// the production bound, so this program takes a little over a minute.
#include <gtest/gtest.h>

#include <string>

#include "shell_support.h"
#include "win_test.h"

namespace {

using qt::SystemFolder;

TEST(SelfRemovalBound, ABatchThatCannotDeleteTheExecutableGivesUpAndDeletesItself)
{
    std::string base = qt::FreshFolder("sr-bound");
    std::string temp = qt::Join(base, "tmp");
    CreateDirectoryA(temp.c_str(), nullptr);
    qt::ScopedVariable tmp("TMP", temp);
    qt::ScopedVariable temp2("TEMP", temp);
    qt::WriteTextFile(qt::Join(temp, "delme1.bat"), "one");
    qt::WriteTextFile(qt::Join(temp, "delme2.bat"), "two");
    std::string app = qt::Join(base, "App");
    CreateDirectoryA(app.c_str(), nullptr);
    std::string exe = qt::Join(app, "uninstall.exe");
    qt::WriteUninstaller(exe, qt::StandardData());
    ASSERT_TRUE(SetFileAttributesA(exe.c_str(), FILE_ATTRIBUTE_READONLY));

    qt::Session session = qt::RunAnswering(exe, "/Q", {}, 60000);
    EXPECT_EQ(0u, session.exitCode);
    std::string batch = qt::Join(temp, "delme3.bat");
    ASSERT_TRUE(qt::FileExists(batch)) << "delme3.bat was not used";
    EXPECT_EQ(qt::ExpectedSelfRemovalBatch(exe, SystemFolder(), app, batch), qt::ReadTextFile(batch));

    // The interpreter that runs it: hidden, with the documented command line.
    std::string commandLine = "cmd.exe /C \"" + batch + "\"";
    HANDLE interpreter = nullptr;
    qt::WaitUntil(
        [&] {
            for (DWORD id : qt::FindProcesses("cmd.exe")) {
                HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, id);
                if (process == nullptr)
                    continue;
                qt::ProcessStart start = qt::ReadProcessStart(process);
                if (start.ok && start.commandLine == commandLine) {
                    EXPECT_EQ(DWORD(STARTF_USESHOWWINDOW), start.windowFlags & STARTF_USESHOWWINDOW);
                    EXPECT_EQ(DWORD(SW_HIDE), start.showWindow);
                    interpreter = process;
                    return true;
                }
                CloseHandle(process);
            }
            return false;
        },
        10000);
    ASSERT_NE(nullptr, interpreter) << "no interpreter runs " << batch;

    // About a minute of tries; the limit leaves room for a slow machine.
    DWORD ended = WaitForSingleObject(interpreter, 150000);
    CloseHandle(interpreter);
    EXPECT_EQ(WAIT_OBJECT_0, ended) << "the interpreter is still trying";
    EXPECT_FALSE(qt::FileExists(batch)) << "the batch did not delete itself";
    EXPECT_TRUE(qt::FileExists(exe));
    EXPECT_TRUE(qt::FolderExists(app));
    EXPECT_EQ("one", qt::ReadTextFile(qt::Join(temp, "delme1.bat")));
    EXPECT_EQ("two", qt::ReadTextFile(qt::Join(temp, "delme2.bat")));
    SetFileAttributesA(exe.c_str(), FILE_ATTRIBUTE_NORMAL);
}

} // namespace
