// COM server unregistration before the file pass deletes a server file: the server is asked to
// remove its own registration through its DllUnregisterServer export.
//
// From Vista on the work goes to the system's regsvr32, started by its full path in the system
// folder, so the server's code never runs inside the uninstaller. Before Vista, or when regsvr32
// cannot be started, the server is loaded here and its export called; an exception raised in the
// server's code is caught by a frame-based handler and the pass goes on. The process error mode
// and the current directory are what they were when this returns.
#include "com_server.h"

#include "files.h"
#include "../data/format.h"
#include "../data/text.h"
#include "../paths/path_helpers.h"
#include "../run/run_context.h"
#include "../shell/launch.h"

enum {
    COM_COMMAND_LINE_SIZE = 520,
    COM_ERROR_MODE = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX,
};

// --- The guarded call ----------------------------------------------------------------------------
//
// GCC has no __try on i686, so the guard is built by hand. CallGuarded links an exception
// registration record into the thread's handler chain (fs:[0]) for the duration of the call. The
// record carries, after the two fields the system reads, the frame pointer of CallGuarded and the
// address to resume at. When the server raises, GuardHandler points the faulting context at that
// address with CallGuarded's frame and lets the system resume there; the code at that address
// unlinks the record (and with it anything the server left linked above it) and returns as if the
// call had come back.

struct GuardRecord {
    GuardRecord* Previous; // the system's EXCEPTION_REGISTRATION_RECORD: link...
    void* Handler;         // ...and handler
    DWORD SavedEbp;
    DWORD ResumeAddress;
};

static EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* exception, void* frame, CONTEXT* context, void*)
{
    // Unwinds started by someone else pass through; the guard only resumes on a first dispatch.
    if (exception->ExceptionFlags & EXCEPTION_UNWIND)
        return ExceptionContinueSearch;
    GuardRecord* record = static_cast<GuardRecord*>(frame);
    context->Esp = reinterpret_cast<DWORD>(record);
    context->Ebp = record->SavedEbp;
    context->Eip = record->ResumeAddress;
    return ExceptionContinueExecution;
}

// void CallGuarded(FARPROC entry, handler): cdecl. The record is built by pushes, so it lies at
// ebp-28: Previous at -28, Handler at -24, SavedEbp at -20, ResumeAddress at -16. ebx, esi and
// edi are saved below ebp and restored from there, so the resume path needs nothing but ebp.
extern "C" void CallGuarded(FARPROC entry, void* handler);
asm(".section .text$CallGuarded,\"x\"\n"
    ".globl _CallGuarded\n"
    "_CallGuarded:\n"
    "    pushl %ebp\n"
    "    movl  %esp, %ebp\n"
    "    pushl %ebx\n"
    "    pushl %esi\n"
    "    pushl %edi\n"
    "    pushl $1f\n"          // ResumeAddress
    "    pushl %ebp\n"         // SavedEbp
    "    pushl 12(%ebp)\n"     // Handler
    "    pushl %fs:0\n"        // Previous
    "    movl  %esp, %fs:0\n"  // linked
    "    call  *8(%ebp)\n"     // the server's DllUnregisterServer (stdcall, no arguments)
    "1:\n"
    "    movl  -28(%ebp), %eax\n"
    "    movl  %eax, %fs:0\n"  // unlinked, on both ways back
    "    cld\n"                // the compiler's code expects the direction flag clear
    "    leal  -12(%ebp), %esp\n"
    "    popl  %edi\n"
    "    popl  %esi\n"
    "    popl  %ebx\n"
    "    popl  %ebp\n"
    "    ret\n"
    ".text\n");

// --- The two ways --------------------------------------------------------------------------------

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
            CallGuarded(unregister, reinterpret_cast<void*>(GuardHandler));
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
