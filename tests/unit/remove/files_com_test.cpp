// COM server unregistration in-process, with test servers built in the test tree: the in-process
// way (its current directory, error mode and exception guard), the regsvr32 way (the server never
// enters this process; its command line), and files that are no servers at all.
#include <gtest/gtest.h>

#include <string>

#include "box_watcher.h"
#include "files_fixture.h"
#include "files_support.h"
#include "remove/com_server.h"
#include "remove/files.h"

using files_test::FilePassTest;

namespace {

const UINT TestErrorMode = SEM_NOGPFAULTERRORBOX;
const UINT UnregisterErrorMode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;

std::string CurrentDirectory()
{
    char directory[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, directory);
    return directory;
}

UINT CurrentErrorMode()
{
    UINT mode = SetErrorMode(0);
    SetErrorMode(mode);
    return mode;
}

void* CurrentHandlerChain()
{
    return reinterpret_cast<NT_TIB*>(NtCurrentTeb())->ExceptionList;
}

class ComServerTest : public FilePassTest {
protected:
    void SetUp() override
    {
        FilePassTest::SetUp();
        savedDirectory_ = CurrentDirectory();
        savedMode_ = SetErrorMode(TestErrorMode);
    }
    void TearDown() override
    {
        SetErrorMode(savedMode_);
        SetCurrentDirectoryA(savedDirectory_.c_str());
        FilePassTest::TearDown();
    }
    // A copy of a test program in a fresh folder of its own; returns the copy's path.
    std::string Install(const std::string& program, const std::string& folderName, const std::string& name)
    {
        std::string folder = qt::FreshFolder(folderName);
        std::string path = qt::Join(folder, name);
        EXPECT_TRUE(CopyFileA(qt::TestBinPath(program).c_str(), path.c_str(), FALSE)) << program;
        return path;
    }
    void Target(const std::string& path) { ASSERT_TRUE(CopyText(TheRun.TargetPath, PATH_SIZE, path.c_str())); }

    std::string savedDirectory_;
    UINT savedMode_ = 0;
};

TEST_F(ComServerTest, BeforeVistaTheServerIsCalledHereInItsOwnFolder)
{
    std::string path = Install("files_com_marker.dll", "unit-files-com-inproc", "marker.dll");
    std::string elsewhere = qt::FreshFolder("unit-files-com-elsewhere");
    SetCurrentDirectoryA(elsewhere.c_str());
    TheRun.IsVistaOrLater = false;
    Target(path);
    UnregisterComServer();

    auto marker = qt::ReadMarker(path);
    EXPECT_EQ(std::to_string(GetCurrentProcessId()), marker["pid"]);
    EXPECT_EQ("C:\\quillon-tests\\unit-files-com-inproc", marker["cwd"]);
    EXPECT_EQ(std::to_string(UnregisterErrorMode), marker["errormode"]);
    EXPECT_EQ(elsewhere, CurrentDirectory());
    EXPECT_EQ(TestErrorMode, CurrentErrorMode());
    EXPECT_EQ(nullptr, GetModuleHandleA(path.c_str())) << "the server is unloaded again";
    EXPECT_STREQ(path.c_str(), TheRun.TargetPath);
}

TEST_F(ComServerTest, AServerInADriveRootIsCalledWithTheRootCurrent)
{
    std::string path = "C:\\quillon-files-root-server.dll";
    ASSERT_TRUE(CopyFileA(qt::TestBinPath("files_com_marker.dll").c_str(), path.c_str(), FALSE));
    SetCurrentDirectoryA(qt::FreshFolder("unit-files-com-root").c_str());
    TheRun.IsVistaOrLater = false;
    Target(path);
    UnregisterComServer();
    EXPECT_EQ("C:\\", qt::ReadMarker(path)["cwd"]);
    EXPECT_EQ("C:\\quillon-tests\\unit-files-com-root", CurrentDirectory());
    DeleteFileA(path.c_str());
    DeleteFileA((path + ".marker").c_str());
}

TEST_F(ComServerTest, ARelativeServerPathIsTakenFromTheCurrentDirectory)
{
    std::string path = Install("files_com_marker.dll", "unit-files-com-relative", "relative.dll");
    SetCurrentDirectoryA("C:\\quillon-tests\\unit-files-com-relative");
    TheRun.IsVistaOrLater = false;
    Target("relative.dll");
    UnregisterComServer();
    EXPECT_EQ(std::to_string(GetCurrentProcessId()), qt::ReadMarker(path)["pid"]);
    EXPECT_EQ("C:\\quillon-tests\\unit-files-com-relative", CurrentDirectory());
}

TEST_F(ComServerTest, AnAccessViolationInTheServerIsCaughtAndEverythingRestored)
{
    std::string path = Install("files_com_fault.dll", "unit-files-com-fault", "fault.dll");
    std::string elsewhere = qt::FreshFolder("unit-files-com-fault-cwd");
    SetCurrentDirectoryA(elsewhere.c_str());
    TheRun.IsVistaOrLater = false;
    Target(path);
    void* chain = CurrentHandlerChain();
    for (int round = 0; round < 2; ++round) {
        DeleteFileA((path + ".marker").c_str());
        UnregisterComServer();
        EXPECT_TRUE(qt::FileExists(path + ".marker")) << "the server ran, round " << round;
        // x86 links a handler record into the chain; x64 finds its handler through unwind data.
        if (!qt::FlavourIsX64) {
            EXPECT_EQ(chain, CurrentHandlerChain()) << "the guard is unlinked";
        }
        EXPECT_EQ(elsewhere, CurrentDirectory());
        EXPECT_EQ(TestErrorMode, CurrentErrorMode());
        EXPECT_EQ(nullptr, GetModuleHandleA(path.c_str()));
    }
}

TEST_F(ComServerTest, AFaultingServerIsStillDeletedByThePass)
{
    std::string path = Install("files_com_fault.dll", "unit-files-com-fault-pass", "fault.dll");
    std::string other = qt::Join("C:\\quillon-tests\\unit-files-com-fault-pass", "other.txt");
    qt::WriteTextFile(other, "handled after the server");
    SetInstallDir("C:\\quillon-tests\\unit-files-com-fault-pass");
    SetFiles({{".", "other.txt", 0}, {".", "fault.dll", FILE_COM_SERVER}});
    TheRun.IsVistaOrLater = false;
    RemoveFiles();
    EXPECT_TRUE(qt::FileExists(path + ".marker"));
    EXPECT_FALSE(qt::FileExists(path));
    EXPECT_FALSE(qt::FileExists(other));
}

TEST_F(ComServerTest, FilesThatAreNoServersChangeNothingAndShowNoBox)
{
    std::string folder = qt::FreshFolder("unit-files-com-none");
    std::string text = qt::Join(folder, "text.dll");
    qt::WriteTextFile(text, "this is not a DLL");
    std::string noExport = qt::Join(folder, "noexport.dll");
    ASSERT_TRUE(CopyFileA(qt::TestBinPath("files_com_helper.dll").c_str(), noExport.c_str(), FALSE));
    SetCurrentDirectoryA("C:\\quillon-tests");
    qt::BoxWatcher watcher(IDOK);
    for (bool vista : {false, true}) {
        for (const std::string& path : {text, noExport, qt::Join(folder, "missing.dll")}) {
            TheRun.IsVistaOrLater = vista;
            Target(path);
            UnregisterComServer();
            EXPECT_EQ("C:\\quillon-tests", CurrentDirectory()) << path;
            EXPECT_EQ(TestErrorMode, CurrentErrorMode()) << path;
            EXPECT_EQ(nullptr, GetModuleHandleA(path.c_str()));
        }
    }
    EXPECT_EQ("this is not a DLL", qt::ReadTextFile(text));
    Sleep(300); // a box would have shown by now
    EXPECT_TRUE(watcher.Seen().empty());
}

TEST_F(ComServerTest, FromVistaOnRegsvr32UnregistersTheServerInItsOwnProcess)
{
    std::string path = Install("files_com_marker.dll", "unit-files-com-regsvr32 with blanks", "marker server.dll");
    TheRun.IsVistaOrLater = true;
    Target(path);
    UnregisterComServer();
    auto marker = qt::ReadMarker(path);
    ASSERT_FALSE(marker["pid"].empty()) << "the server was called";
    EXPECT_NE(std::to_string(GetCurrentProcessId()), marker["pid"]);
    EXPECT_EQ("regsvr32 /u /s \"" + path + "\"", marker["cmdline"]);
    EXPECT_EQ(nullptr, GetModuleHandleA(path.c_str())) << "never loaded here";
    EXPECT_EQ(TestErrorMode, CurrentErrorMode());
    EXPECT_TRUE(DeleteFileA(path.c_str())) << "regsvr32 has let go of it";
}

// The run restricts the DLL search to the system folder; a server still finds its own DLLs.
TEST_F(ComServerTest, AServerFindsTheDllsBesideItWhileTheSearchIsRestricted)
{
    std::string path = Install("files_com_dependent.dll", "unit-files-com-dependent", "dependent.dll");
    ASSERT_TRUE(CopyFileA(qt::TestBinPath("files_com_helper.dll").c_str(),
                          "C:\\quillon-tests\\unit-files-com-dependent\\files_com_helper.dll", FALSE));
    RestrictDllSearch();
    // With the restriction in force, a plain load would not find the helper.
    HMODULE plain = LoadLibraryA(path.c_str());
    if (plain != nullptr)
        FreeLibrary(plain);
    EXPECT_EQ(nullptr, plain) << "the restriction is in force";
    SetCurrentDirectoryA("C:\\quillon-tests");
    TheRun.IsVistaOrLater = false;
    Target(path);
    UnregisterComServer();
    EXPECT_EQ("42", qt::ReadMarker(path)["helper"]);
}

} // namespace
