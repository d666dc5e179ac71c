// COM server unregistration before the file pass deletes a server file: the server is asked to
// remove its own registration through its DllUnregisterServer export.
//
// From Vista on the work goes to the system's regsvr32, started by its full path in the system
// folder, so the server's code never runs inside the uninstaller. Before Vista, or when regsvr32
// cannot be started, the server is loaded here and its export called through the guard, so an
// exception raised in the server's code ends that call and the pass goes on. The process error mode
// and the current directory are what they were when this returns.
#include "com_server.h"

#include "guarded_call.h"
#include "pass_helpers.h"
#include "../data/format.h"
#include "../data/run_context.h"
#include "../data/text.h"
#include "../paths/path_helpers.h"
#include "../shell/launch.h"

enum {
    COM_COMMAND_LINE_SIZE = 520,
    COM_ERROR_MODE = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX,
};

// Runs "regsvr32 /u /s "path"" and waits for it. False when the tool could not be started. The
// command line lives on the stack: the path has at most 259 characters, so it always fits.
static bool RunRegistrationTool(const char* path)
{
    char tool[PATH_SIZE];
    char commandLine[COM_COMMAND_LINE_SIZE];
    if (!GetSystemFilePath(tool, "regsvr32.exe") ||
        !ComposeText(commandLine, COM_COMMAND_LINE_SIZE, "regsvr32 /u /s \"%s\"", path))
        return false;
    HANDLE process = CreateProgramProcess(tool, commandLine, false, true);
    if (process == nullptr)
        return false;
    // A wait on the handle, not on the exit code: a process may well end with code 259.
    WaitForSingleObject(process, INFINITE);
    CloseHandle(process);
    return true;
}

// Loads the server at its full path with its folder as the current directory and calls its
// DllUnregisterServer. Where the run has narrowed the DLL search to the system folder, the
// server's own folder is searched too, so that it still finds the DLLs it ships beside itself.
static void CallUnregisterInProcess(char* path, char* fileName)
{
    char savedDirectory[PATH_SIZE];
    bool saved = ReadCurrentFolder(savedDirectory);

    // The folder keeps its backslash, so that a server in a drive root makes the root current.
    char first = *fileName;
    *fileName = '\0';
    SetCurrentDirectoryA(path);
    *fileName = first;

    DWORD flags = 0;
    if (GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories") != nullptr)
        flags = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;
    HMODULE server = LoadLibraryExA(path, nullptr, flags);
    if (server != nullptr) {
        FARPROC unregister = GetProcAddress(server, "DllUnregisterServer");
        if (unregister != nullptr)
            CallGuarded(unregister);
        FreeLibrary(server);
    }
    if (saved)
        SetCurrentDirectoryA(savedDirectory);
}

void UnregisterComServer()
{
    UINT previousMode = SetErrorMode(COM_ERROR_MODE);
    // The server is named by its full path: a bare or relative name would otherwise go through
    // the DLL search (and regsvr32's), which may find a system DLL of the same name.
    char path[PATH_SIZE];
    char* fileName = nullptr;
    DWORD length = GetFullPathNameA(TheRun.TargetPath, PATH_SIZE, path, &fileName);
    if (length != 0 && length < PATH_SIZE) {
        if (fileName == nullptr)
            fileName = path + length; // a path that ends in a backslash is its own folder
        if (!TheRun.IsVistaOrLater || !RunRegistrationTool(path))
            CallUnregisterInProcess(path, fileName);
    }
    SetErrorMode(previousMode);
}
