// Start-up and shut-down of the process-wide resources: platform level, DLL search, OLE, common
// controls, the theme library and the three path buffers.
//
// The stub runs elevated, sometimes from a folder that others can write to, and the DLL search
// looks in the program's own folder first. So the search is restricted to the system folder where
// the platform allows it, and uxtheme is loaded by its full path in the system folder.
#include <windows.h>
#include <commctrl.h>

#include "driver.h"
#include "../data/format.h"
#include "../data/memory.h"
#include "../data/run_context.h"
#include "../data/text.h"
#include "../paths/path_helpers.h"
#include "../ui/dialog_font.h"

RunContext TheRun;

typedef BOOL(WINAPI* SetDefaultDllDirectoriesProc)(DWORD);
typedef BOOL(WINAPI* SetDllDirectoryProc)(const char*);
typedef BOOL(WINAPI* SetThemeAppPropertiesProc)(DWORD);

// uxtheme's flag for visual styles on window frames only (its header is not needed for one number).
enum { STAP_ALLOW_NONCLIENT_FLAG = 1 };

void RestrictDllSearch()
{
    // Absent before Windows 7 without its update. There, from XP SP1 on, an empty DLL folder takes
    // the current directory out of the search; the program's own folder stays in it, and the
    // known-DLL list is all we have against that. Both are looked up: the 9x line has neither.
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    SetDefaultDllDirectoriesProc setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesProc>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories != nullptr) {
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
        return;
    }
    SetDllDirectoryProc setDllDirectory =
        reinterpret_cast<SetDllDirectoryProc>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryA")));
    if (setDllDirectory != nullptr)
        setDllDirectory("");
}

// GetVersion packs both answers into one number: its high bit is set outside the NT line, and its
// low byte is the major version, which is 4 at most on the 9x line.
void DetectPlatform()
{
    DWORD version = GetVersion();
    TheRun.IsNT = (version & 0x80000000) == 0;
    TheRun.IsVistaOrLater = LOBYTE(version) > 5;
}

void LoadThemeLibrary()
{
    char path[PATH_SIZE];
    // The extended call with no flags is the plain one; the COM pass imports it anyway.
    if (GetSystemFilePath(path, "uxtheme.dll"))
        TheRun.ThemeLibrary = LoadLibraryExA(path, nullptr, 0);
}

void UseClassicControls()
{
    // Window frames keep the visual style; dialog controls are drawn without it. The function is
    // looked up only here, where it is needed.
    if (TheRun.ThemeLibrary == nullptr)
        return;
    SetThemeAppPropertiesProc setThemeAppProperties = reinterpret_cast<SetThemeAppPropertiesProc>(
        reinterpret_cast<void*>(GetProcAddress(TheRun.ThemeLibrary, "SetThemeAppProperties")));
    if (setThemeAppProperties != nullptr)
        setThemeAppProperties(STAP_ALLOW_NONCLIENT_FLAG);
}

void UnloadThemeLibrary()
{
    if (TheRun.ThemeLibrary != nullptr) {
        FreeLibrary(TheRun.ThemeLibrary);
        TheRun.ThemeLibrary = nullptr;
    }
}

// The three path buffers, in the order they are made.
static char** const PathBuffers[] = {&TheRun.ModulePath, &TheRun.TargetPath, &TheRun.InstallDir};

bool InitializeRun(HINSTANCE instance)
{
    TheRun.ModuleInstance = instance;
    TheRun.ReadOnlyPolicy = -1;
    OleInitialize(nullptr);
    LoadThemeLibrary();
    InitCommonControls();
    for (char** buffer : PathBuffers)
        if (!MemAllocZeroed(PATH_SIZE, buffer))
            return false;
    // A path cut by the limit would name another folder: such a start-up fails.
    if (!GetUninstallerPath(TheRun.InstallDir))
        return false;
    // The file name is a full path: its folder ends at its last backslash, which stays.
    char* lastBackslash = FindLastChar(TheRun.InstallDir, '\\');
    if (lastBackslash != nullptr)
        lastBackslash[1] = '\0';
    return true;
}

void FinalizeRun()
{
    OleUninitialize();
    for (char** buffer : PathBuffers)
        MemRelease(buffer);
    ReleaseDialogFont();
    UnloadThemeLibrary();
}
