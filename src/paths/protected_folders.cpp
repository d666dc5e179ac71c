// The test for folders that no uninstall may remove, worked out afresh from the running system on
// every call: a folder is protected when its path equals (ignoring letter case) a drive root, the
// Windows or System folder, one of the shell's desktop, font, start menu and program folders, a
// Quick Launch folder, the common documents, or Program Files or Common Files as the registry
// stores them. Only equality counts: a subfolder of a protected folder may go.
#include "protected_folders.h"

#include <shlobj.h>

#include "path_helpers.h"
#include "../data/format.h"
#include "../data/run_context.h"
#include "../data/text.h"

// Each row is a FOLDER_ or CSIDL number with flags.
enum {
    PROTECT_FOLDER = 0x3F,
    PROTECT_NT_ONLY = 0x40,      // the all-users folders, which the 9x line does not have
    PROTECT_QUICK_LAUNCH = 0x80, // the folder's Quick Launch subfolder is protected too
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
    CSIDL_APPDATA | PROTECT_QUICK_LAUNCH,
    CSIDL_COMMON_APPDATA | PROTECT_QUICK_LAUNCH,
    CSIDL_COMMON_DOCUMENTS,
};

static bool MatchesProtectedFolder(const char* path)
{
    char folder[PATH_SIZE];
    for (BYTE row : ProtectedRows) {
        if ((!TheRun.IsNT && (row & PROTECT_NT_ONLY)) || !GetFolderPath(folder, row & PROTECT_FOLDER))
            continue;
        StripTrailingBackslash(folder);
        if (TextEqualsNoCase(path, folder))
            return true;
        if ((row & PROTECT_QUICK_LAUNCH) &&
            AppendToPath(folder, PATH_SIZE, "Microsoft\\Internet Explorer\\Quick Launch") &&
            TextEqualsNoCase(path, folder))
            return true;
    }
    // Program Files, then Common Files, compared as stored: a value kept with a trailing backslash
    // does not match.
    for (const char* name = PROGRAM_FILES_VALUE;; name = COMMON_FILES_VALUE) {
        if (ReadCurrentVersionPath(name, folder) > 0 && TextEqualsNoCase(path, folder))
            return true;
        if (name == COMMON_FILES_VALUE)
            return false;
    }
}

bool IsProtectedFolder(char* path)
{
    DWORD length = TextLength(path);
    if (length < 4)
        return true; // empty, a bare drive or a drive root
    // A trailing backslash is taken off for the test, and the caller's text put back as it was.
    char* last = path + length - 1;
    char kept = *last;
    if (kept == '\\')
        *last = '\0';
    bool result = MatchesProtectedFolder(path);
    *last = kept;
    return result;
}
