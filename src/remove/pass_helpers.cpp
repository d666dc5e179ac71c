// Helpers that several removal passes share (see pass_helpers.h). They live below the passes, so
// that no pass reaches into another's file for them.
#include "pass_helpers.h"

#include "folder_pins.h"
#include "../data/format.h"
#include "../data/run_context.h"
#include "../data/text.h"
#include "../paths/path_helpers.h"
#include "../paths/protected_folders.h"
#include "../ui/progress.h"

bool BuildTargetPath(const char* folder, const char* rest, const char* fileName)
{
    char* target = TheRun.TargetPath;
    bool fitted = CopyText(target, PATH_SIZE, folder) && AppendText(target, PATH_SIZE, rest) &&
                  (fileName[0] == '\0' || AppendToPath(target, PATH_SIZE, fileName));
    if (!fitted)
        target[0] = '\0';
    return fitted;
}

void BuildEntryPath(const FileEntry* entry)
{
    const char* folder = entry->Folder;
    const char* rest = "";
    if (folder[0] == '.') {
        // Only ".\rest" keeps its rest: "." and "..\x" both stand for InstallDir itself.
        if (folder[1] == '\\')
            rest = folder + 2;
        folder = TheRun.InstallDir;
    }
    BuildTargetPath(folder, rest, entry->FileName);
}

bool ReadCurrentFolder(char* path)
{
    DWORD length = GetCurrentDirectoryA(PATH_SIZE, path);
    bool fits = length != 0 && length < PATH_SIZE;
    if (!fits)
        path[0] = '\0';
    return fits;
}

void EnterInstallDir()
{
    StripTrailingBackslash(TheRun.InstallDir);
    SetCurrentDirectoryA(TheRun.InstallDir);
}

void StepUpFolder()
{
    SetCurrentDirectoryA("..");
}

bool RemoveUnprotectedFolder(char* path)
{
    return !IsProtectedFolder(path) && RemovePinnedFolder(path);
}

bool CutToParent(char* path)
{
    char* last = FindLastChar(path, '\\');
    if (last == nullptr)
        return false;
    *last = '\0';
    return true;
}

void ReportRemovalStep(DWORD step)
{
    if (TheRun.StepTotal != 0)
        SetProgress(step * 100 / TheRun.StepTotal);
}

HKEY OpenRegistryKey(HKEY parent, const char* name, REGSAM access)
{
    HKEY key;
    return RegOpenKeyExA(parent, name, 0, access, &key) == ERROR_SUCCESS ? key : nullptr;
}

void DeleteValueAndCloseKey(HKEY key, const char* name)
{
    if (key == nullptr)
        return;
    if (name != nullptr)
        RegDeleteValueA(key, name);
    RegCloseKey(key);
}

HKEY OpenBelowCurrentVersion(const char* name, REGSAM access)
{
    // Without the CurrentVersion key the open fails on the null parent.
    HKEY currentVersion = OpenCurrentVersionKey();
    HKEY key = OpenRegistryKey(currentVersion, name, access);
    DeleteValueAndCloseKey(currentVersion, nullptr);
    return key;
}
