// Starting a program, optionally waiting for it while the windows stay responsive.
//
// The program runs in its own folder: the process's current directory is moved there for the
// moment of the start and always moved back. The bare name "cmd.exe" is the one exception: it
// keeps the current directory, is started hidden and unquoted, and is taken from the system
// folder by full path. The stub runs elevated, and a bare name would otherwise be looked up in the
// uninstaller's own folder first, where anyone who could write there could plant a "cmd.exe".
//
// Texts that do not fit the command line (519 characters) or the folder copy (259) are refused:
// a cut path would start some other program.
#include "launch.h"

#include "../data/format.h"
#include "../data/text.h"
#include "../paths/path_helpers.h"
#include "../run/run_context.h"
#include "../ui/progress.h"

enum {
    LAUNCH_COMMAND_SIZE = 520,
    LAUNCH_WAIT_STEP_MS = 200,
};

bool GetInterpreterFolder(char* folder)
{
    UINT length = TheRun.IsNT ? GetSystemDirectoryA(folder, PATH_SIZE) : GetWindowsDirectoryA(folder, PATH_SIZE);
    if (length == 0 || length >= PATH_SIZE)
        return false;
    StripTrailingBackslash(folder);
    return true;
}

bool GetInterpreterPath(char* path)
{
    return GetInterpreterFolder(path) && AddTrailingBackslash(path, PATH_SIZE) &&
           AppendText(path, PATH_SIZE, TheRun.IsNT ? "cmd.exe" : "command.com");
}

bool StartProgram(const char* program, const char* arguments, HANDLE* process)
{
    char commandLine[LAUNCH_COMMAND_SIZE];
    char interpreter[PATH_SIZE];
    char savedDirectory[PATH_SIZE];
    char folder[PATH_SIZE];

    // The command line keeps the name as given; the interpreter itself is named by full path.
    const char* application = nullptr;
    bool hidden = TextEqualsNoCase(program, "cmd.exe");
    bool fits;
    if (hidden) {
        fits = GetInterpreterPath(interpreter) && CopyText(commandLine, sizeof commandLine, program);
        application = interpreter;
    } else {
        fits = CopyText(commandLine, sizeof commandLine, "\"") && AppendText(commandLine, sizeof commandLine, program) &&
               AppendChar(commandLine, sizeof commandLine, '"');
    }
    if (arguments != nullptr && arguments[0] != '\0')
        fits = fits && AppendChar(commandLine, sizeof commandLine, ' ') &&
               AppendText(commandLine, sizeof commandLine, arguments);
    if (!fits || !CopyText(folder, sizeof folder, program))
        return false;

    // Without a saved directory there is nothing to go back to: the start then stays where it is.
    DWORD savedLength = GetCurrentDirectoryA(sizeof savedDirectory, savedDirectory);
    bool moved = savedLength != 0 && savedLength < sizeof savedDirectory;
    char* lastBackslash = FindLastChar(folder, '\\');
    if (moved && lastBackslash != nullptr) {
        // A program in a drive root runs in that root, not in the drive's current directory.
        if (lastBackslash == folder + 2 && folder[1] == ':')
            ++lastBackslash;
        *lastBackslash = '\0';
        SetCurrentDirectoryA(folder);
    }

    STARTUPINFOA startup;
    FillBytes(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (hidden) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    PROCESS_INFORMATION started;
    BOOL created = CreateProcessA(application, commandLine, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr,
                                  nullptr, &startup, &started);
    if (moved)
        SetCurrentDirectoryA(savedDirectory);
    if (!created)
        return false;
    CloseHandle(started.hThread);
    *process = started.hProcess;
    return true;
}

// Tested on the process handle, not on the exit code: a program that really ends with 259
// (STILL_ACTIVE) would otherwise count as running for ever.
bool IsProcessRunning(HANDLE process)
{
    return WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

bool RunProgram(const char* program, const char* arguments, bool wait)
{
    HANDLE process;
    if (!StartProgram(program, arguments, &process))
        return false;
    if (wait) {
        // The first test comes at once; the wait between pumps ends early when the program does.
        while (IsProcessRunning(process)) {
            PumpPendingMessages();
            WaitForSingleObject(process, LAUNCH_WAIT_STEP_MS);
        }
    }
    CloseHandle(process);
    return true;
}
