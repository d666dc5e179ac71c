// The self-removal batch gives up: an executable that can never be deleted (here one that carries
// the read-only attribute, which "del" refuses) keeps the hidden interpreter trying for about a
// minute only, then the batch removes itself with its folder. Meanwhile the batch can be looked at:
// "delme.bat" in a new folder below the Windows folder's Temp that only administrators and SYSTEM
// may change, written as documented and started hidden by the system's interpreter. One run of
// the production bound, so this program takes a little over a minute.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "shell_support.h"
#include "win_test.h"

namespace {

using qt::SystemFolder;

TEST(SelfRemovalBound, ABatchThatCannotDeleteTheExecutableGivesUpAndDeletesItself)
{
    std::string base = qt::FreshFolder("sr-bound");
    std::string app = qt::Join(base, "App");
    CreateDirectoryA(app.c_str(), nullptr);
    std::string exe = qt::Join(app, "uninstall.exe");
    qt::WriteUninstaller(exe, qt::StandardData());
    ASSERT_TRUE(SetFileAttributesA(exe.c_str(), FILE_ATTRIBUTE_READONLY));

    qt::Session session = qt::RunAnswering(exe, "/Q", {}, 60000);
    EXPECT_EQ(0u, session.exitCode);
    std::string batch = qt::FindSelfRemovalBatch(exe);
    ASSERT_FALSE(batch.empty()) << "no batch deletes " << exe;
    std::string folder = batch.substr(0, batch.rfind('\\'));
    EXPECT_EQ(qt::Lower(qt::BatchParentFolder()), qt::Lower(folder.substr(0, folder.rfind('\\'))));
    EXPECT_EQ(qt::ExpectedSelfRemovalBatch(exe, SystemFolder(), app, batch), qt::ReadTextFile(batch));
    // Where the file system keeps access lists: the folder's own, protected, for SYSTEM and
    // administrators to change and for everyone to read.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL acl = nullptr;
    char* text = nullptr;
    if (GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl,
                              nullptr, &descriptor) == ERROR_SUCCESS &&
        ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                             &text, nullptr)) {
        std::string sddl = text;
        if (sddl.find("D:P") == 0)
            EXPECT_EQ("D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FRFX;;;WD)", sddl);
        LocalFree(text);
    }
    LocalFree(descriptor);

    // The interpreter that runs it: hidden, with the documented command line.
    std::string commandLine = qt::ExpectedInterpreterLine(batch);
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
    EXPECT_FALSE(qt::FolderExists(folder)) << "the batch did not remove itself with its folder";
    EXPECT_TRUE(qt::FileExists(exe));
    EXPECT_TRUE(qt::FolderExists(app));
    SetFileAttributesA(exe.c_str(), FILE_ATTRIBUTE_NORMAL);
}

} // namespace
