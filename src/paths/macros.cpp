// Folder macros: "#AppData#" and its kind inside paths and command lines become the folders of the
// running machine and user.
//
// The expansion is built in a scratch area and then copied out, so a caller can measure first
// (no destination) and expand afterwards into a buffer of the measured size. Each macro comes
// from one row of a table: a primary source (a Windows call, a registry value, a shell folder or
// InstallDir) and, for the shell folders that old systems may lack, a fallback built from the
// Windows folder or the AppData folder. A macro whose folder cannot be found at all stays in the
// text as written, so that the run driver can tell an unexpanded command.
#include "macros.h"

#include <shlobj.h>

#include "path_helpers.h"
#include "shell_folders.h"
#include "../data/heap.h"
#include "../data/text.h"
#include "../run/run_context.h"

// Zero-filled and never written in its last byte, so the expansion is always NUL-terminated; an
// expansion that does not fit is cut at its end.
enum { MACRO_SCRATCH_SIZE = 65500 };

// Sources other than a shell folder; a row's non-negative source is a CSIDL number.
enum {
    SOURCE_WINDOWS = -1,
    SOURCE_SYSTEM = -2,
    SOURCE_TEMP = -3,
    SOURCE_COMMON_FILES = -4,
    SOURCE_PROGRAM_FILES = -5,
    SOURCE_INSTALL_DIR = -6,
    SOURCE_ALL_USERS_DIR = -7, // the parent of the common documents folder
};

// The macro names, one per row of MacroRows and in the same order, closed by an empty name.
static const char MacroNames[] = "#Windows#\0#System#\0#TempDir#\0#CommonFiles#\0#Program Files#\0"
                                 "#MyDocuments#\0#Desktop#\0#AppData#\0#LocalAppData#\0#AllUsersAppData#\0"
                                 "#AllUsersDocuments#\0#AllUsersDesktop#\0#UserDir#\0#AllUsersDir#\0"
                                 "#InstallDir#\0";

// What a fallback appends; the 9x line appends it from the row's Offset9x on.
enum {
    SUFFIX_NONE,
    SUFFIX_APPLICATION_DATA,
    SUFFIX_LOCAL_APPLICATION_DATA,
    SUFFIX_ALL_USERS_APPLICATION_DATA,
    SUFFIX_ALL_USERS_DOCUMENTS,
    SUFFIX_ALL_USERS_DESKTOP,
    SUFFIX_ALL_USERS,
};
static const char* const MacroSuffixes[] = {
    "",
    "\\Application Data",
    "\\Local Settings\\Application Data",
    "\\All Users\\Application Data",
    "\\All Users\\Documents",
    "\\All Users\\Desktop",
    "\\All Users",
};

// How the NT line replaces a shell folder it could not find: the AppData folder with its last
// parts replaced by the suffix, or else the Windows folder's "Profiles" folder and the suffix.
enum {
    FALLBACK_NONE,
    FALLBACK_PROFILE,        // Windows folder + "Profiles\Administrator" + suffix
    FALLBACK_LAST_PART,      // AppData, last part replaced; else as above
    FALLBACK_LAST_TWO_PARTS, // AppData, last two parts replaced; else "Profiles" + suffix
    FALLBACK_USER_DIR,       // AppData without its last part; else "c:\"
};

struct MacroRow {
    signed char Source;
    BYTE Fallback;
    BYTE Suffix;
    BYTE Offset9x;
};

static const MacroRow MacroRows[] = {
    {SOURCE_WINDOWS, FALLBACK_NONE, SUFFIX_NONE, 0},
    {SOURCE_SYSTEM, FALLBACK_NONE, SUFFIX_NONE, 0},
    {SOURCE_TEMP, FALLBACK_NONE, SUFFIX_NONE, 0},
    {SOURCE_COMMON_FILES, FALLBACK_NONE, SUFFIX_NONE, 0},
    {SOURCE_PROGRAM_FILES, FALLBACK_NONE, SUFFIX_NONE, 0},
    {CSIDL_PERSONAL, FALLBACK_NONE, SUFFIX_NONE, 0},
    {CSIDL_DESKTOPDIRECTORY, FALLBACK_NONE, SUFFIX_NONE, 0},
    {CSIDL_APPDATA, FALLBACK_PROFILE, SUFFIX_APPLICATION_DATA, 1},
    {CSIDL_LOCAL_APPDATA, FALLBACK_LAST_PART, SUFFIX_LOCAL_APPLICATION_DATA, 16}, // "Application Data"
    {CSIDL_COMMON_APPDATA, FALLBACK_LAST_TWO_PARTS, SUFFIX_ALL_USERS_APPLICATION_DATA, 1},
    {CSIDL_COMMON_DOCUMENTS, FALLBACK_LAST_TWO_PARTS, SUFFIX_ALL_USERS_DOCUMENTS, 1},
    {CSIDL_COMMON_DESKTOPDIRECTORY, FALLBACK_LAST_TWO_PARTS, SUFFIX_ALL_USERS_DESKTOP, 1},
    {CSIDL_PROFILE, FALLBACK_USER_DIR, SUFFIX_NONE, 0}, // 9x: the Windows folder itself
    {SOURCE_ALL_USERS_DIR, FALLBACK_LAST_TWO_PARTS, SUFFIX_ALL_USERS, 1},
    {SOURCE_INSTALL_DIR, FALLBACK_NONE, SUFFIX_NONE, 0},
};

// The Windows folder, a backslash and suffix.
static bool WindowsFolderWith(char* folder, const char* suffix)
{
    return PathLengthFits(GetWindowsDirectoryA(folder, MAX_PATH)) && AddTrailingBackslash(folder, MACRO_BUFFER_SIZE) &&
           AppendText(folder, MACRO_BUFFER_SIZE, suffix);
}

static bool ReadProgramFolder(bool commonFiles, char* folder)
{
    HKEY key = OpenCurrentVersionKey();
    if (key == nullptr)
        return false;
    bool found;
    if (commonFiles && ReadPathValue(key, COMMON_FILES_VALUE, folder)) {
        found = true;
    } else if (ReadPathValue(key, PROGRAM_FILES_VALUE, folder)) {
        found = !commonFiles ||
                (AddTrailingBackslash(folder, MACRO_BUFFER_SIZE) && AppendText(folder, MACRO_BUFFER_SIZE, "Common Files"));
    } else {
        // The key names neither folder: Common Files then names nothing, Program Files keeps its token.
        folder[0] = '\0';
        found = commonFiles;
    }
    RegCloseKey(key);
    return found;
}

static bool FindAllUsersDir(char* folder)
{
    if (!GetShellFolderPath(folder, CSIDL_COMMON_DOCUMENTS))
        return false;
    char* last = FindLastChar(folder, '\\');
    if (last == nullptr)
        return CopyText(folder, MACRO_BUFFER_SIZE, "c:\\");
    if (last != folder && last[-1] == ':')
        ++last; // a drive root keeps its backslash
    *last = '\0';
    return true;
}

static bool FindPrimary(const MacroRow* row, char* folder)
{
    switch (row->Source) {
    case SOURCE_WINDOWS:
        return WindowsFolderWith(folder, "");
    case SOURCE_SYSTEM:
        return PathLengthFits(GetSystemDirectoryA(folder, MAX_PATH));
    case SOURCE_TEMP:
        return PathLengthFits(GetTempPathA(MAX_PATH, folder));
    case SOURCE_COMMON_FILES:
    case SOURCE_PROGRAM_FILES:
        return ReadProgramFolder(row->Source == SOURCE_COMMON_FILES, folder);
    case SOURCE_INSTALL_DIR:
        return TheRun.InstallDir != nullptr && CopyText(folder, MACRO_BUFFER_SIZE, TheRun.InstallDir);
    case SOURCE_ALL_USERS_DIR:
        return FindAllUsersDir(folder);
    default:
        return GetShellFolderPath(folder, row->Source);
    }
}

static bool CutLastParts(char* folder, int parts)
{
    for (; parts != 0; --parts) {
        char* last = FindLastChar(folder, '\\');
        if (last == nullptr)
            return false;
        *last = '\0';
    }
    return true;
}

static bool FindFallback(const MacroRow* row, char* folder)
{
    const char* suffix = MacroSuffixes[row->Suffix];
    if (!TheRun.IsNT)
        return WindowsFolderWith(folder, suffix + row->Offset9x);
    int parts = row->Fallback == FALLBACK_USER_DIR ? 1 : row->Fallback - FALLBACK_PROFILE;
    if (parts != 0 && GetShellFolderPath(folder, CSIDL_APPDATA) && CutLastParts(folder, parts) &&
        AppendText(folder, MACRO_BUFFER_SIZE, suffix))
        return true;
    if (row->Fallback == FALLBACK_USER_DIR)
        return CopyText(folder, MACRO_BUFFER_SIZE, "c:\\");
    return WindowsFolderWith(folder, "Profiles") &&
           (parts == 2 || AppendText(folder, MACRO_BUFFER_SIZE, "\\Administrator")) &&
           AppendText(folder, MACRO_BUFFER_SIZE, suffix);
}

void ResolveMacro(char* buffer)
{
    const MacroRow* row = MacroRows;
    for (const char* name = MacroNames; !TextEqualsNoCase(buffer, name); name += TextLength(name) + 1, ++row) {
        if (*name == '\0') {
            buffer[0] = '\0';
            return;
        }
    }
    // Sources write into a buffer of their own, so one that fails halfway leaves the token whole.
    char folder[MACRO_BUFFER_SIZE];
    if (!FindPrimary(row, folder) && (row->Fallback == FALLBACK_NONE || !FindFallback(row, folder)))
        return;
    StripTrailingBackslash(folder);
    CopyText(buffer, MACRO_BUFFER_SIZE, folder);
}

static void PutText(char* scratch, DWORD* at, const char* text, DWORD count)
{
    for (; count != 0 && *at < MACRO_SCRATCH_SIZE - 1; --count)
        scratch[(*at)++] = *text++;
}

DWORD ExpandMacros(char* destination, const char* source, DWORD size)
{
    // A plain allocation: without it the text is handed on unexpanded.
    char* scratch = static_cast<char*>(HeapBlockAlloc(MACRO_SCRATCH_SIZE, true));
    const char* expansion = source;
    if (scratch != nullptr) {
        DWORD at = 0;
        const char* read = source;
        for (;;) {
            const char* open = FindChar(read, '#');
            const char* close = open != nullptr ? FindChar(open + 1, '#') : nullptr;
            if (close == nullptr) {
                PutText(scratch, &at, read, TextLength(read)); // a lone '#' stays as written
                break;
            }
            PutText(scratch, &at, read, open - read);
            // A token too long for any name names nothing. The folder is not scanned again, so a
            // '#' inside a folder name is never taken for a macro.
            char folder[MACRO_BUFFER_SIZE];
            DWORD tokenLength = close - open + 1;
            folder[0] = '\0';
            if (tokenLength < MACRO_BUFFER_SIZE) {
                CopyBytes(folder, open, tokenLength);
                folder[tokenLength] = '\0';
                ResolveMacro(folder);
            }
            PutText(scratch, &at, folder, TextLength(folder));
            read = close + 1;
        }
        expansion = scratch;
    }
    DWORD length = TextLength(expansion);
    // A destination too small takes what fits and a NUL in its last byte; the caller tells the
    // case from the length returned. Bytes after the text are NUL.
    if (destination != nullptr) {
        for (DWORD index = 0; index < size; ++index)
            destination[index] = (index < length && index + 1 < size) ? expansion[index] : '\0';
    }
    if (scratch != nullptr)
        HeapBlockFree(scratch);
    return length;
}
