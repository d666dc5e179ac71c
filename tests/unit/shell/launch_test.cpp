// Starting programs: the command line each start produces, the folder it runs in, the hidden
// system interpreter, refused texts, waiting (also for a program that ends with 259) and the
// messages handled while waiting. The started programs are copies of the recorder, which writes
// down how it was started.
#include <gtest/gtest.h>

#include <string>

#include "data/format.h"
#include "run/driver.h"
#include "data/run_context.h"
#include "shell/launch.h"
#include "shell_support.h"

namespace {

using qt::CurrentDirectory;
using qt::Lower;
using qt::SystemFolder;
using qt::WindowsFolder;

std::string Wow64Folder()
{
    char folder[MAX_PATH] = "";
    UINT length = GetSystemWow64DirectoryA(folder, sizeof folder);
    return length == 0 ? std::string("(none)") : std::string(folder);
}

class Launch : public ::testing::Test {
protected:
    void SetUp() override
    {
        DetectPlatform();
        folder_ = qt::FreshFolder("unit-launch");
        recordFile_ = qt::Join(folder_, "records.txt");
        record_.reset(new qt::ScopedVariable("QUILLON_RECORD", recordFile_));
        savedDirectory_ = CurrentDirectory();
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(savedDirectory_.c_str());
        record_.reset();
        sleep_.reset();
        exit_.reset();
    }
    void SleepInRecorder(DWORD ms) { sleep_.reset(new qt::ScopedVariable("QUILLON_RECORD_SLEEP", std::to_string(ms))); }
    void ExitFromRecorder(DWORD code)
    {
        exit_.reset(new qt::ScopedVariable("QUILLON_RECORD_EXIT", std::to_string(code)));
    }
    // Starts without waiting, then waits for the process itself (with a limit) and reads its record.
    qt::Record StartAndRecord(const std::string& program, const char* arguments)
    {
        HANDLE process = nullptr;
        EXPECT_TRUE(StartProgram(program.c_str(), arguments, &process)) << program;
        if (process == nullptr)
            return qt::Record();
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 30000));
        CloseHandle(process);
        std::vector<qt::Record> records = qt::ReadRecords(recordFile_);
        EXPECT_EQ(1u, records.size());
        return records.empty() ? qt::Record() : records.back();
    }

    std::string folder_;
    std::string recordFile_;
    std::string savedDirectory_;
    std::unique_ptr<qt::ScopedVariable> record_;
    std::unique_ptr<qt::ScopedVariable> sleep_;
    std::unique_ptr<qt::ScopedVariable> exit_;
};

TEST_F(Launch, AProgramIsQuotedShownAsItChoosesAndRunsInItsOwnFolder)
{
    CreateDirectoryA(qt::Join(folder_, "tools").c_str(), nullptr);
    std::string program = qt::Join(folder_, "tools\\cleanup.exe");
    qt::InstallRecorder(program);
    qt::Record record = StartAndRecord(program, "/quiet");
    EXPECT_EQ("\"" + program + "\" /quiet", record.commandLine);
    EXPECT_EQ(qt::Join(folder_, "tools"), record.directory);
    EXPECT_EQ(0u, record.startFlags & STARTF_USESHOWWINDOW);
    EXPECT_EQ(savedDirectory_, CurrentDirectory()) << "the current directory is put back";
}

TEST_F(Launch, NullOrEmptyArgumentsAddNoBlank)
{
    std::string program = qt::Join(folder_, "cleanup.exe");
    qt::InstallRecorder(program);
    for (const char* arguments : {static_cast<const char*>(nullptr), ""}) {
        DeleteFileA(recordFile_.c_str());
        qt::Record record = StartAndRecord(program, arguments);
        EXPECT_EQ("\"" + program + "\"", record.commandLine);
    }
}

TEST_F(Launch, AProgramInADriveRootRunsInThatRoot)
{
    std::string program = "C:\\quillon-launch-root.exe";
    qt::InstallRecorder(program);
    qt::Record record = StartAndRecord(program, "-x");
    EXPECT_EQ("\"" + program + "\" -x", record.commandLine);
    EXPECT_EQ("C:\\", record.directory);
    DeleteFileA(program.c_str());
}

TEST_F(Launch, AFullPathEndingInCmdExeIsAnyProgram)
{
    CreateDirectoryA(qt::Join(folder_, "sub").c_str(), nullptr);
    std::string program = qt::Join(folder_, "sub\\cmd.exe");
    qt::InstallRecorder(program);
    qt::Record record = StartAndRecord(program, "/quiet");
    EXPECT_EQ("\"" + program + "\" /quiet", record.commandLine);
    EXPECT_EQ(qt::Join(folder_, "sub"), record.directory);
    EXPECT_EQ(0u, record.startFlags & STARTF_USESHOWWINDOW);
}

// The bare name starts the system's interpreter, hidden, unquoted and in the current directory;
// a "cmd.exe" planted in that directory is never the one that runs.
TEST_F(Launch, BareCmdExeIsTheSystemInterpreterHiddenAndUnquoted)
{
    if (!TheRun.IsNT)
        GTEST_SKIP() << "the 9x line has its own test below";
    std::string planted = qt::Join(folder_, "planted");
    CreateDirectoryA(planted.c_str(), nullptr);
    qt::InstallRecorder(qt::Join(planted, "cmd.exe"));
    std::string child = qt::Join(folder_, "child.exe");
    qt::InstallRecorder(child);
    SleepInRecorder(1500); // keeps the interpreter alive while its start is read
    ASSERT_TRUE(SetCurrentDirectoryA(planted.c_str()));

    int round = 0;
    for (const char* name : {"cmd.exe", "CMD.EXE", "Cmd.Exe"}) {
        std::string arguments = "/c " + child + " round" + std::to_string(++round);
        HANDLE process = nullptr;
        ASSERT_TRUE(StartProgram(name, arguments.c_str(), &process)) << name;
        qt::ProcessStart start = qt::ReadProcessStart(process);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 30000));
        CloseHandle(process);
        ASSERT_TRUE(start.ok) << "cannot read how " << name << " was started";
        EXPECT_EQ(std::string(name) + " " + arguments, start.commandLine);
        // A 32-bit program on 64-bit Windows sees the 32-bit system folder under the system folder's
        // name; an x64 one is not redirected.
        EXPECT_TRUE(Lower(start.imagePath) == Lower(SystemFolder() + "\\cmd.exe") ||
                    (!qt::FlavourIsX64 && Lower(start.imagePath) == Lower(Wow64Folder() + "\\cmd.exe")))
            << start.imagePath;
        EXPECT_EQ(DWORD(STARTF_USESHOWWINDOW), start.windowFlags & STARTF_USESHOWWINDOW) << name;
        EXPECT_EQ(DWORD(SW_HIDE), start.showWindow) << name;
        EXPECT_EQ(Lower(planted + "\\"), Lower(start.directory)) << "runs in the current directory";
        EXPECT_EQ(Lower(planted), Lower(CurrentDirectory()));
    }
    std::vector<qt::Record> records = qt::ReadRecords(recordFile_);
    ASSERT_EQ(3u, records.size());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Lower(child), Lower(records[i].module)) << "only the child ran, never the planted cmd.exe";
        EXPECT_NE(std::string::npos, records[i].commandLine.find("round" + std::to_string(i + 1)));
    }
}

// On the 9x line the interpreter is command.com in the Windows folder. Wine has none: without it
// nothing starts; with a stand-in put there, that stand-in is what starts, hidden.
TEST_F(Launch, OnThe9xLineBareCmdExeIsCommandComFromTheWindowsFolder)
{
    if (TheRun.IsNT)
        GTEST_SKIP() << "the 9x line only";
    std::string planted = qt::Join(folder_, "planted");
    CreateDirectoryA(planted.c_str(), nullptr);
    qt::InstallRecorder(qt::Join(planted, "cmd.exe"));
    qt::InstallRecorder(qt::Join(planted, "command.com"));
    ASSERT_TRUE(SetCurrentDirectoryA(planted.c_str()));
    std::string commandCom = qt::Join(WindowsFolder(), "command.com");
    ASSERT_FALSE(qt::FileExists(commandCom)) << "this prefix has a command.com of its own";

    HANDLE process = nullptr;
    EXPECT_FALSE(StartProgram("cmd.exe", "/c rem", &process));
    EXPECT_FALSE(RunProgram("cmd.exe", "/c rem", true));

    qt::InstallRecorder(commandCom);
    qt::Record record = StartAndRecord("cmd.exe", "/c rem");
    EXPECT_TRUE(qt::DeleteProgramWhenItEnds(commandCom)) << "a stand-in left in the Windows folder";
    EXPECT_EQ(Lower(commandCom), Lower(record.module));
    EXPECT_EQ("cmd.exe /c rem", record.commandLine);
    EXPECT_EQ(DWORD(STARTF_USESHOWWINDOW), record.startFlags & STARTF_USESHOWWINDOW);
    EXPECT_EQ(DWORD(SW_HIDE), record.show);
}

TEST_F(Launch, AMissingProgramIsNotStartedAndNotAwaited)
{
    std::string missing = qt::Join(folder_, "missing.exe");
    HANDLE process = nullptr;
    EXPECT_FALSE(StartProgram(missing.c_str(), "/quiet", &process));
    EXPECT_FALSE(RunProgram(missing.c_str(), "/quiet", true));
    EXPECT_EQ(savedDirectory_, CurrentDirectory());
}

// The command line holds 519 characters: one more is refused, never cut.
TEST_F(Launch, ACommandLineOfMoreThan519CharactersIsRefused)
{
    std::string program = qt::Join(folder_, "cleanup.exe");
    qt::InstallRecorder(program);
    size_t room = 519 - (program.size() + 3); // quotes and the blank
    std::string arguments(room, 'a');
    qt::Record record = StartAndRecord(program, arguments.c_str());
    EXPECT_EQ("\"" + program + "\" " + arguments, record.commandLine);
    EXPECT_EQ(519u, record.commandLine.size());

    DeleteFileA(recordFile_.c_str());
    arguments += 'b';
    HANDLE process = nullptr;
    EXPECT_FALSE(StartProgram(program.c_str(), arguments.c_str(), &process));
    EXPECT_FALSE(RunProgram(program.c_str(), arguments.c_str(), false));
    Sleep(500);
    EXPECT_TRUE(qt::ReadRecords(recordFile_).empty());
}

// A program whose path is longer than 259 characters is refused even where the file exists.
TEST_F(Launch, AProgramPathOfMoreThan259CharactersIsRefused)
{
    std::string deep = folder_;
    while (deep.size() < 220) {
        deep += "\\deep-folder-name";
        ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) << deep;
    }
    std::string program = qt::Join(deep, "a-program-with-a-rather-long-name-cleanup.exe");
    ASSERT_GT(program.size(), 259u);
    if (!CopyFileA(qt::RecorderPath().c_str(), program.c_str(), FALSE))
        GTEST_SKIP() << "this file system takes no path of " << program.size() << " characters";
    HANDLE process = nullptr;
    EXPECT_FALSE(StartProgram(program.c_str(), nullptr, &process));
    Sleep(500);
    EXPECT_TRUE(qt::ReadRecords(recordFile_).empty());
    EXPECT_EQ(savedDirectory_, CurrentDirectory());
    qt::DeleteLongFile(program);
}

TEST_F(Launch, WaitingEndsOnlyWhenTheProgramHasEnded)
{
    std::string program = qt::Join(folder_, "cleanup.exe");
    qt::InstallRecorder(program);
    SleepInRecorder(1500);
    bool started = false;
    qt::RunWithin(30000, [&] { started = RunProgram(program.c_str(), "waited", true); }, "RunProgram");
    EXPECT_TRUE(started);
    std::vector<qt::Record> records = qt::ReadRecords(recordFile_);
    ASSERT_EQ(1u, records.size()) << "the record is written just before the program ends";
    EXPECT_EQ("\"" + program + "\" waited", records[0].commandLine);
}

TEST_F(Launch, WithoutTheWaitFlagTheCallReturnsAtOnce)
{
    std::string program = qt::Join(folder_, "cleanup.exe");
    qt::InstallRecorder(program);
    SleepInRecorder(5000);
    EXPECT_TRUE(RunProgram(program.c_str(), "unwaited", false));
    EXPECT_TRUE(qt::ReadRecords(recordFile_).empty()) << "returned only after the program had ended";
    EXPECT_TRUE(qt::WaitForRecords(recordFile_, 1, 30000));
}

TEST_F(Launch, AProgramThatEndsWith259DoesNotHangTheWait)
{
    std::string program = qt::Join(folder_, "cleanup.exe");
    qt::InstallRecorder(program);
    ExitFromRecorder(STILL_ACTIVE);
    bool started = false;
    qt::RunWithin(30000, [&] { started = RunProgram(program.c_str(), nullptr, true); }, "RunProgram with 259");
    EXPECT_TRUE(started);
    EXPECT_EQ(1u, qt::ReadRecords(recordFile_).size());
}

TEST_F(Launch, IsProcessRunningFollowsTheProcessNotItsExitCode)
{
    std::string program = qt::Join(folder_, "cleanup.exe");
    qt::InstallRecorder(program);
    SleepInRecorder(1000);
    ExitFromRecorder(STILL_ACTIVE);
    HANDLE process = nullptr;
    ASSERT_TRUE(StartProgram(program.c_str(), nullptr, &process));
    EXPECT_TRUE(IsProcessRunning(process));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 30000));
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(process, &code));
    EXPECT_EQ(DWORD(STILL_ACTIVE), code) << "the program really ended with 259";
    EXPECT_FALSE(IsProcessRunning(process));
    CloseHandle(process);
}

int ticks;
int posted;

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER)
        ++ticks;
    if (message == WM_APP + 5)
        ++posted;
    return DefWindowProcA(window, message, wParam, lParam);
}

// While waiting, the thread's messages are handled: a timer of this thread keeps firing.
TEST_F(Launch, WaitingKeepsHandlingMessages)
{
    std::string program = qt::Join(folder_, "cleanup.exe");
    qt::InstallRecorder(program);
    SleepInRecorder(1500);
    ticks = posted = 0;
    qt::RunWithin(
        30000,
        [&] {
            WNDCLASSA windowClass = {};
            windowClass.lpfnWndProc = CountingProc;
            windowClass.hInstance = GetModuleHandleA(nullptr);
            windowClass.lpszClassName = "QuillonLaunchPumpTest";
            RegisterClassA(&windowClass);
            HWND window = CreateWindowA("QuillonLaunchPumpTest", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        GetModuleHandleA(nullptr), nullptr);
            ASSERT_NE(nullptr, window);
            SetTimer(window, 1, 50, nullptr);
            PostMessageA(window, WM_APP + 5, 0, 0);
            EXPECT_TRUE(RunProgram(program.c_str(), nullptr, true));
            KillTimer(window, 1);
            DestroyWindow(window);
        },
        "RunProgram while pumping");
    EXPECT_EQ(1, posted);
    EXPECT_GE(ticks, 2) << "messages were handled only once, or never, during a wait of 1.5 s";
}

} // namespace
