// The test for folders that no uninstall may remove, worked out afresh from the running system on
// every call: a folder is protected when its path equals (ignoring letter case) a drive root, the
// Windows, System or SysWOW64 folder, one of the shell's desktop, font, start menu, program,
// profile and document folders, the folder that holds the profiles, a Quick Launch folder, or the
// Program Files and Common Files folders (of both registry views) as the registry stores them. Only
// equality counts: a subfolder of a protected folder may go.
//
// The path is brought to the form Windows itself resolves before it is compared: full (no ".",
// "..", "/" or trailing dots and spaces) and, where the folder exists, long (no 8.3 names), so
// that no other spelling of a protected folder slips past. An existing folder that cannot be
// brought to that form counts as protected; a missing one is compared in its full form.
#include "protected_folders.h"

#include <shlobj.h>

#include "path_helpers.h"
#include "../data/format.h"
#include "../data/run_context.h"
#include "../data/text.h"

// Each row is a FOLDER_ or CSIDL number, or PROTECT_WOW64_FOLDER, with flags.
enum {
    PROTECT_WOW64_FOLDER = 0x3D, // SysWOW64, which the shell's numbers (below 0x3C) do not name
    PROTECT_FOLDER = 0x3F,
    PROTECT_NT_ONLY = 0x40, // the all-users folders, which the 9x line does not have
    PROTECT_ALSO = 0x80,    // a second folder too: the Quick Launch subfolder, or the profile's parent
};

static const BYTE ProtectedRows[] = {
    FOLDER_WINDOWS,
    FOLDER_SYSTEM,
    CSIDL_DESKTOP,
    CSIDL_DESKTOPDIRECTORY,
    CSIDL_COMMON_DESKTOPDIRECTORY | PROTECT_NT_ONLY,
    CSIDL_FONTS,
    CSIDL_PROGRAMS,
    CSIDL_COMMON_PROGRAMS | PROTECT_NT_ONLY,
    CSIDL_STARTMENU,
    CSIDL_COMMON_STARTMENU | PROTECT_NT_ONLY,
    CSIDL_STARTUP,
    CSIDL_COMMON_STARTUP | PROTECT_NT_ONLY,
    CSIDL_APPDATA | PROTECT_ALSO,
    CSIDL_COMMON_APPDATA | PROTECT_ALSO,
    CSIDL_COMMON_DOCUMENTS,
    CSIDL_PROFILE | PROTECT_ALSO, // and the Users folder above it
    CSIDL_PERSONAL,
    PROTECT_WOW64_FOLDER,
};

// Program Files and Common Files are read in the program's own registry view, then in each of the
// two views of 64-bit Windows: a 32-bit program's own values name only the 32-bit folders, and a
// 64-bit program's only the 64-bit ones. Other Windows ignores the view flags or refuses them.
static const WORD ProgramFilesViews[] = {0, KEY_WOW64_64KEY, KEY_WOW64_32KEY};

typedef UINT(WINAPI* GetPathProc)(char*, UINT);
typedef DWORD(WINAPI* GetLongPathProc)(const char*, char*, DWORD);

// Looks up a kernel32 function that old Windows lacks; null where it is missing.
static FARPROC FindKernelFunction(const char* name)
{
    return GetProcAddress(GetModuleHandleA("kernel32.dll"), name);
}

// Fills folder (PATH_SIZE bytes) with the folder of a row's number; false when there is none.
static bool GetRowFolder(char* folder, int number)
{
    if (number != PROTECT_WOW64_FOLDER)
        return GetFolderPath(folder, number);
    // 64-bit Windows from XP on; 32-bit Windows answers nothing, older Windows lacks the call.
    GetPathProc getWow64Folder = reinterpret_cast<GetPathProc>(
        reinterpret_cast<void*>(FindKernelFunction("GetSystemWow64DirectoryA")));
    return getWow64Folder != nullptr && PathLengthFits(getWow64Folder(folder, PATH_SIZE));
}

static bool MatchesProtectedFolder(const char* path)
{
    char folder[PATH_SIZE];
    for (BYTE row : ProtectedRows) {
        if ((!TheRun.IsNT && (row & PROTECT_NT_ONLY)) || !GetRowFolder(folder, row & PROTECT_FOLDER))
            continue;
        StripTrailingBackslash(folder);
        if (TextEqualsNoCase(path, folder))
            return true;
        if (row & PROTECT_ALSO) {
            if ((row & PROTECT_FOLDER) == CSIDL_PROFILE) {
                char* last = FindLastChar(folder, '\\');
                if (last == nullptr)
                    continue;
                *last = '\0';
            } else if (!AppendToPath(folder, PATH_SIZE, "Microsoft\\Internet Explorer\\Quick Launch")) {
                continue;
            }
            if (TextEqualsNoCase(path, folder))
                return true;
        }
    }
    // The registry values, compared as stored: a value kept with a trailing backslash does not
    // match.
    bool matched = false;
    for (WORD view : ProgramFilesViews) {
        HKEY key = OpenCurrentVersionKey(view);
        if (key == nullptr)
            continue;
        for (const char* name = PROGRAM_FILES_VALUE;; name = COMMON_FILES_VALUE) {
            matched |= ReadPathValue(key, name, folder) && TextEqualsNoCase(path, folder);
            if (name == COMMON_FILES_VALUE)
                break;
        }
        RegCloseKey(key);
    }
    return matched;
}

bool IsProtectedFolder(const char* path)
{
    // "\\?\", "\\.\" and "\??\" paths reach the object namespace unresolved: no form of them can be
    // compared.
    if (TextLength(path) < 4 || (path[0] == '\\' && (path[2] == '?' || path[2] == '.') && path[3] == '\\'))
        return true;
    char full[PATH_SIZE];
    if (!PathLengthFits(GetFullPathNameA(path, PATH_SIZE, full, nullptr)))
        return true;
    // Windows 95 and NT 4 have no GetLongPathNameA: their paths are compared in full form. A folder
    // that is not there keeps its full form too: it cannot be removed anyway.
    GetLongPathProc getLongPath =
        reinterpret_cast<GetLongPathProc>(reinterpret_cast<void*>(FindKernelFunction("GetLongPathNameA")));
    if (getLongPath != nullptr) {
        DWORD length = getLongPath(full, full, PATH_SIZE);
        DWORD error = GetLastError();
        bool missing = length == 0 && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND);
        if (!PathLengthFits(length) && !missing)
            return true;
    }
    StripTrailingBackslash(full);
    // Empty, a bare drive or a drive root, also where a longer text resolves to one.
    return TextLength(full) < 4 || MatchesProtectedFolder(full);
}
