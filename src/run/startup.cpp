// Start-up and shut-down of the process-wide resources: platform level, DLL search, OLE, common
// controls, the theme library and the three path buffers.
//
// The stub runs elevated, sometimes from a folder that others can write to, and the DLL search
// looks in the program's own folder first. So the search is restricted to the system folder where
// the platform allows it, and uxtheme is loaded by its full path in the system folder.
#include <windows.h>
#include <commctrl.h>

#include "driver.h"
#include "run_context.h"
#include "../data/format.h"
#include "../data/memory.h"
#include "../data/text.h"
#include "../paths/path_helpers.h"
#include "../ui/dialog_font.h"

RunContext TheRun;

typedef BOOL(WINAPI* SetDefaultDllDirectoriesProc)(DWORD);

// uxtheme's flag for visual styles on window frames only (its header is not needed for one number).
enum { STAP_ALLOW_NONCLIENT_FLAG = 1 };

void RestrictDllSearch()
{
    // Absent before Windows 7 without its update; there the known-DLL list is all we have.
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    SetDefaultDllDirectoriesProc setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesProc>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories != nullptr)
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void DetectPlatform()
{
    OSVERSIONINFOA version;
    FillBytes(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version); // a failed call leaves zeros: neither flag is set
    TheRun.IsNT = version.dwPlatformId == VER_PLATFORM_WIN32_NT;
    TheRun.IsVistaOrLater = TheRun.IsNT && version.dwMajorVersion > 5;
}

void LoadThemeLibrary()
{
    char path[PATH_SIZE];
    if (!GetSystemFilePath(path, "uxtheme.dll"))
        return;
    TheRun.ThemeLibrary = LoadLibraryA(path);
    if (TheRun.ThemeLibrary != nullptr) {
        TheRun.SetThemeAppProperties = reinterpret_cast<SetThemeAppPropertiesProc>(
            reinterpret_cast<void*>(GetProcAddress(TheRun.ThemeLibrary, "SetThemeAppProperties")));
    }
}

void UseClassicControls()
{
    // Window frames keep the visual style; dialog controls are drawn without it.
    if (TheRun.SetThemeAppProperties != nullptr)
        TheRun.SetThemeAppProperties(STAP_ALLOW_NONCLIENT_FLAG);
}

void UnloadThemeLibrary()
{
    if (TheRun.ThemeLibrary != nullptr) {
        FreeLibrary(TheRun.ThemeLibrary);
        TheRun.ThemeLibrary = nullptr;
        TheRun.SetThemeAppProperties = nullptr;
    }
}

bool InitializeRun(HINSTANCE instance)
{
    TheRun.ModuleInstance = instance;
    TheRun.ReadOnlyPolicy = -1;
    OleInitialize(nullptr);
    LoadThemeLibrary();
    InitCommonControls();
    if (!MemAllocZeroed(PATH_SIZE, &TheRun.ModulePath) || !MemAllocZeroed(PATH_SIZE, &TheRun.TargetPath) ||
        !MemAllocZeroed(PATH_SIZE, &TheRun.InstallDir))
        return false;
    // A path cut by the limit would name another folder: such a start-up fails.
    DWORD length = GetModuleFileNameA(instance, TheRun.InstallDir, PATH_SIZE);
    if (length == 0 || length >= PATH_SIZE)
        return false;
    char* lastBackslash = FindLastChar(TheRun.InstallDir, '\\');
    if (lastBackslash != nullptr)
        *lastBackslash = '\0';
    AddTrailingBackslash(TheRun.InstallDir, PATH_SIZE);
    return true;
}

void FinalizeRun()
{
    OleUninitialize();
    MemRelease(&TheRun.ModulePath);
    MemRelease(&TheRun.InstallDir);
    MemRelease(&TheRun.TargetPath);
    ReleaseDialogFont();
    UnloadThemeLibrary();
}
