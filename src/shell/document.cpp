// Opening the closing document, a local file or a web address, after the removal.
//
// The stub runs elevated from Vista on (its manifest asks for administrator rights), and what it
// starts inherits that: a browser, or a class command that the user set through their own
// classes, would run as administrator. So from Vista on the document is handed to the Windows
// folder's explorer.exe, started as a child of the desktop shell's process: it runs with the
// shell's token, unelevated, and opens the document as the user's shell would. Without a desktop
// shell (a run from a service, or a shell that has ended) or where that start fails, the document
// is not opened at all rather than opened elevated. A run there that is not elevated (a standard
// user with the elevation prompt turned off) goes the same way, and its shell has its own rights.
//
// Before Vista there is no elevation, and a run opens what its user could open anyway. There the
// shell's "open" verb comes first. When the shell cannot open the target, the command that the
// registry gives the ".htm" class is run with the target in place of its placeholder; what stood
// behind the placeholder (switches included) is dropped, as the class commands of browsers of
// that time expected. Its program, quoted or up to the first blank, is started by that name and
// never searched for. A local file opens in its own folder; a web address has no folder.
//
// A command text that cannot be read whole, or that does not fit with the target, is not run:
// a cut or left-over text would start something other than the document's handler.
#include "document.h"

#include "../data/format.h"
#include "../data/run_context.h"
#include "../data/text.h"
#include "../paths/path_helpers.h"
#include "launch.h"

enum { DOCUMENT_BUFFER_SIZE = 520 };

typedef HWND(WINAPI* GetShellWindowProc)();
typedef BOOL(WINAPI* InitializeProcThreadAttributeListProc)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD, SIZE_T*);
typedef BOOL(WINAPI* UpdateProcThreadAttributeProc)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD_PTR, void*, SIZE_T,
                                                    void*, SIZE_T*);

static char* FindText(char* text, const char* part)
{
    for (; *text != '\0'; ++text) {
        DWORD i = 0;
        while (part[i] != '\0' && text[i] == part[i])
            ++i;
        if (part[i] == '\0')
            return text;
    }
    return nullptr;
}

// An empty buffer means "nothing usable": a value that is missing, not text or too long is never
// passed on as a class name or a command. The unnamed value is read as every path value of the
// stub is, through the shared reader: a text stored without its NUL gets one.
LONG ReadClassesRootDefault(HKEY root, const char* keyPath, char* buffer)
{
    HKEY key;
    LONG result = RegOpenKeyExA(root, keyPath, 0, KEY_QUERY_VALUE, &key);
    if (result != ERROR_SUCCESS)
        return result;
    if (!ReadPathValue(key, nullptr, buffer))
        buffer[0] = '\0';
    RegCloseKey(key);
    return ERROR_SUCCESS;
}

// True when the key under HKEY_CLASSES_ROOT opens and its unnamed value is a usable, non-empty text.
static bool ReadUsableDefault(const char* keyPath, char* buffer)
{
    return ReadClassesRootDefault(HKEY_CLASSES_ROOT, keyPath, buffer) == ERROR_SUCCESS && buffer[0] != '\0';
}

static FARPROC FindFunction(const char* module, const char* name)
{
    return GetProcAddress(GetModuleHandleA(module), name);
}

// Starts "<Windows>\explorer.exe" "<target>" in directory as a child of the desktop shell's
// process. The attribute calls are Vista's, and the stub also runs where they are missing: all
// three are looked up. command is a DOCUMENT_BUFFER_SIZE work buffer.
static void OpenThroughDesktopShell(const char* target, const char* directory, char* command)
{
    GetShellWindowProc getShellWindow =
        reinterpret_cast<GetShellWindowProc>(reinterpret_cast<void*>(FindFunction("user32.dll", "GetShellWindow")));
    InitializeProcThreadAttributeListProc initializeList = reinterpret_cast<InitializeProcThreadAttributeListProc>(
        reinterpret_cast<void*>(FindFunction("kernel32.dll", "InitializeProcThreadAttributeList")));
    UpdateProcThreadAttributeProc updateList = reinterpret_cast<UpdateProcThreadAttributeProc>(
        reinterpret_cast<void*>(FindFunction("kernel32.dll", "UpdateProcThreadAttribute")));
    HWND shell;
    if (getShellWindow == nullptr || initializeList == nullptr || updateList == nullptr ||
        (shell = getShellWindow()) == nullptr)
        return;
    DWORD shellProcessId = 0;
    GetWindowThreadProcessId(shell, &shellProcessId);
    HANDLE shellProcess = OpenProcess(PROCESS_CREATE_PROCESS, FALSE, shellProcessId);
    if (shellProcess == nullptr)
        return;
    // One attribute needs 48 bytes on x64 and fewer on x86; the call says when it needs more.
    ULONG_PTR list[8];
    SIZE_T size = sizeof list;
    LPPROC_THREAD_ATTRIBUTE_LIST attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list);
    char explorer[PATH_SIZE];
    // A quote in the target would end its argument early.
    if (FindChar(target, '"') == nullptr && initializeList(attributes, 1, 0, &size) &&
        updateList(attributes, 0, PROC_THREAD_ATTRIBUTE_PARENT_PROCESS, &shellProcess, sizeof shellProcess, nullptr,
                   nullptr) &&
        GetFolderPath(explorer, FOLDER_WINDOWS) && AppendToPath(explorer, PATH_SIZE, "explorer.exe") &&
        ComposeText(command, DOCUMENT_BUFFER_SIZE, "\"%s\" \"%s\"", explorer, target)) {
        HANDLE process = CreateProgramProcess(explorer, command, false, false, directory, attributes);
        if (process != nullptr)
            CloseHandle(process);
    }
    CloseHandle(shellProcess);
}

void OpenDocument(const char* target, const char* extension)
{
    char folder[DOCUMENT_BUFFER_SIZE];
    char command[DOCUMENT_BUFFER_SIZE];

    const char* directory = nullptr;
    if (!TextStartsWithNoCase(target, "http://") && !TextStartsWithNoCase(target, "https://") &&
        CopyText(folder, sizeof folder, target)) {
        char* lastBackslash = FindLastChar(folder, '\\');
        if (lastBackslash != nullptr) {
            *lastBackslash = '\0';
            directory = folder;
        }
    }
    if (TheRun.IsVistaOrLater) {
        OpenThroughDesktopShell(target, directory, command);
        return;
    }
    if (reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", target, nullptr, directory, SW_SHOW)) > 32)
        return;

    // The class named by the extension, then that class's open command.
    if (!ReadUsableDefault(extension, command) || !AppendText(command, sizeof command, "\\shell\\open\\command") ||
        !ReadUsableDefault(command, command))
        return;
    char* placeholder = FindText(command, "\"%1\"");
    if (placeholder == nullptr)
        placeholder = FindText(command, "%1");
    if (placeholder != nullptr)
        *placeholder = '\0';
    // The program: the text between the leading quotes, or up to the first blank.
    char* program = command;
    char end = ' ';
    if (*program == '"') {
        ++program;
        end = '"';
    }
    char* rest = FindChar(program, end);
    if (rest != nullptr)
        *rest++ = '\0';
    else
        rest = program + TextLength(program);
    while (*rest == ' ')
        ++rest;
    if (ComposeText(folder, sizeof folder, "\"%s\" %s %s", program, rest, target)) {
        HANDLE process = CreateProgramProcess(program, folder, false, false);
        if (process != nullptr)
            CloseHandle(process);
    }
}
