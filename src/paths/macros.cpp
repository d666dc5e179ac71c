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

// How the NT line replaces a shell folder it could not find. The 9x line always takes the Windows
// folder followed by part of the row's suffix.
enum {
    FALLBACK_NONE,
    FALLBACK_PROFILE,         // Windows folder + "Profiles\Administrator" + suffix
    FALLBACK_LAST_PART,       // AppData with its last part replaced by the suffix, else as above
    FALLBACK_LAST_TWO_PARTS,  // AppData with its last two parts replaced, else "Profiles" + suffix
    FALLBACK_USER_DIR,        // AppData without its last part, else "c:\"
};

struct MacroRow {
    const char* Name;
    signed char Source;
    BYTE Fallback;
    BYTE Offset9x; // the 9x fallback appends Suffix + Offset9x to the Windows folder
    const char* Suffix;
};

static const MacroRow MacroRows[] = {
    {"#Windows#", SOURCE_WINDOWS, FALLBACK_NONE, 0, nullptr},
    {"#System#", SOURCE_SYSTEM, FALLBACK_NONE, 0, nullptr},
    {"#TempDir#", SOURCE_TEMP, FALLBACK_NONE, 0, nullptr},
    {"#CommonFiles#", SOURCE_COMMON_FILES, FALLBACK_NONE, 0, nullptr},
    {"#Program Files#", SOURCE_PROGRAM_FILES, FALLBACK_NONE, 0, nullptr},
    {"#MyDocuments#", CSIDL_PERSONAL, FALLBACK_NONE, 0, nullptr},
    {"#Desktop#", CSIDL_DESKTOPDIRECTORY, FALLBACK_NONE, 0, nullptr},
    {"#AppData#", CSIDL_APPDATA, FALLBACK_PROFILE, 1, "\\Application Data"},
    {"#LocalAppData#", CSIDL_LOCAL_APPDATA, FALLBACK_LAST_PART, 16, "\\Local Settings\\Application Data"},
    {"#AllUsersAppData#", CSIDL_COMMON_APPDATA, FALLBACK_LAST_TWO_PARTS, 1, "\\All Users\\Application Data"},
    {"#AllUsersDocuments#", CSIDL_COMMON_DOCUMENTS, FALLBACK_LAST_TWO_PARTS, 1, "\\All Users\\Documents"},
    {"#AllUsersDesktop#", CSIDL_COMMON_DESKTOPDIRECTORY, FALLBACK_LAST_TWO_PARTS, 1, "\\All Users\\Desktop"},
    {"#UserDir#", CSIDL_PROFILE, FALLBACK_USER_DIR, 0, ""},
    {"#AllUsersDir#", SOURCE_ALL_USERS_DIR, FALLBACK_LAST_TWO_PARTS, 1, "\\All Users"},
    {"#InstallDir#", SOURCE_INSTALL_DIR, FALLBACK_NONE, 0, nullptr},
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
    if (commonFiles && ReadPathValue(key, "CommonFilesDir", folder)) {
        found = true;
    } else if (ReadPathValue(key, "ProgramFilesDir", folder)) {
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

static bool FindFallback(const MacroRow* row, char* folder)
{
    if (!TheRun.IsNT)
        return WindowsFolderWith(folder, row->Suffix + row->Offset9x);
    char* last = nullptr;
    if (row->Fallback != FALLBACK_PROFILE && GetShellFolderPath(folder, CSIDL_APPDATA))
        last = FindLastChar(folder, '\\');
    if (row->Fallback == FALLBACK_USER_DIR) {
        if (last == nullptr)
            return CopyText(folder, MACRO_BUFFER_SIZE, "c:\\");
        *last = '\0';
        return true;
    }
    if (last != nullptr && row->Fallback == FALLBACK_LAST_TWO_PARTS) {
        *last = '\0';
        last = FindLastChar(folder, '\\');
    }
    if (last != nullptr) {
        *last = '\0';
        if (AppendText(folder, MACRO_BUFFER_SIZE, row->Suffix))
            return true;
    }
    return WindowsFolderWith(folder, "Profiles") &&
           (row->Fallback == FALLBACK_LAST_TWO_PARTS || AppendText(folder, MACRO_BUFFER_SIZE, "\\Administrator")) &&
           AppendText(folder, MACRO_BUFFER_SIZE, row->Suffix);
}

void ResolveMacro(char* buffer)
{
    const MacroRow* row = MacroRows;
    while (!TextEqualsNoCase(buffer, row->Name)) {
        if (++row == MacroRows + sizeof MacroRows / sizeof MacroRows[0]) {
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
