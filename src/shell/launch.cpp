// Starting a program, optionally waiting for it while the windows stay responsive.
//
// The program runs in its own folder, given to it as its current directory at the start; the
// stub's own current directory stays as it is. The bare name "cmd.exe" is the one exception: it
// keeps the current directory, is started hidden and unquoted, and is taken from the system
// folder by full path. The stub runs elevated, and a bare name would otherwise be looked up in the
// uninstaller's own folder first, where anyone who could write there could plant a "cmd.exe".
//
// Texts that do not fit the command line (519 characters) or the folder copy (259) are refused:
// a cut path would start some other program.
#include "launch.h"

#include "../data/format.h"
#include "../data/run_context.h"
#include "../data/text.h"
#include "../paths/path_helpers.h"
#include "../ui/progress.h"

enum {
    LAUNCH_COMMAND_SIZE = 520,
    LAUNCH_WAIT_STEP_MS = 200,
};

static const char InterpreterNT[] = "cmd.exe";

char* GetInterpreterPath(char* path)
{
    if (!GetFolderPath(path, TheRun.IsNT ? FOLDER_SYSTEM : FOLDER_WINDOWS) ||
        !AppendToPath(path, PATH_SIZE, TheRun.IsNT ? InterpreterNT : "command.com"))
        return nullptr;
    return FindLastChar(path, '\\') + 1;
}

HANDLE CreateProgramProcess(const char* application, char* commandLine, bool hidden, bool inherit, const char* folder,
                            LPPROC_THREAD_ATTRIBUTE_LIST attributes)
{
    // Kept in the zero-filled data, so that only a few fields need setting; the call only reads it.
    // The plain size tells systems without attribute lists (before Vista) what they know.
    static STARTUPINFOEXA startup;
    startup.StartupInfo.cb = attributes != nullptr ? sizeof startup : sizeof startup.StartupInfo;
    startup.StartupInfo.dwFlags = hidden ? STARTF_USESHOWWINDOW : 0; // wShowWindow stays SW_HIDE
    startup.lpAttributeList = attributes;
    PROCESS_INFORMATION started;
    if (!CreateProcessA(application, commandLine, nullptr, nullptr, inherit,
                        (inherit ? NORMAL_PRIORITY_CLASS : 0) | (attributes != nullptr ? EXTENDED_STARTUPINFO_PRESENT : 0),
                        nullptr, folder, &startup.StartupInfo, &started))
        return nullptr;
    CloseHandle(started.hThread);
    return started.hProcess;
}

bool StartProgram(const char* program, const char* arguments, HANDLE* process)
{
    char commandLine[LAUNCH_COMMAND_SIZE];
    char path[PATH_SIZE]; // the interpreter, or the program's folder

    // The command line keeps the name as given; the interpreter itself is named by full path.
    bool hidden = TextEqualsNoCase(program, InterpreterNT);
    const char* quote = hidden ? "" : "\"";
    if (!ComposeText(commandLine, sizeof commandLine, arguments != nullptr && arguments[0] != '\0' ? "%s%s%s %s" : "%s%s%s",
                     quote, program, quote, arguments) ||
        !(hidden ? GetInterpreterPath(path) != nullptr : CopyText(path, sizeof path, program)))
        return false;

    // The folder keeps its backslash, so that a drive root stays that root ("C:\", not "C:"). A
    // name without a folder starts in the current directory.
    const char* folder = nullptr;
    char* lastBackslash = hidden ? nullptr : FindLastChar(path, '\\');
    if (lastBackslash != nullptr) {
        lastBackslash[1] = '\0';
        folder = path;
    }
    *process = CreateProgramProcess(hidden ? path : nullptr, commandLine, hidden, true, folder);
    return *process != nullptr;
}

// Running and waiting are both tested on the process handle, not on the exit code: a program that
// really ends with 259 (STILL_ACTIVE) would otherwise count as running for ever.
bool IsProcessRunning(HANDLE process)
{
    return WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

bool RunProgram(const char* program, const char* arguments, bool wait)
{
    HANDLE process;
    if (!StartProgram(program, arguments, &process))
        return false;
    // The first test comes at once; each later one waits up to a step for the program, with the
    // pending messages handled in between.
    DWORD step = 0;
    while (wait && WaitForSingleObject(process, step) == WAIT_TIMEOUT) {
        PumpPendingMessages();
        step = LAUNCH_WAIT_STEP_MS;
    }
    CloseHandle(process);
    return true;
}
