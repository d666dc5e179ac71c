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

// Sources other than a folder number (FOLDER_ or CSIDL); a row's non-negative source is one.
enum {
    SOURCE_TEMP = -1,
    SOURCE_COMMON_FILES = -2,
    SOURCE_PROGRAM_FILES = -3,
    SOURCE_INSTALL_DIR = -4,
    SOURCE_ALL_USERS_DIR = -5, // the parent of the common documents folder
};

// The macro names without their opening '#', one per row of MacroRows and in the same order,
// closed by an empty name.
static const char MacroNames[] = "Windows#\0System#\0TempDir#\0CommonFiles#\0Program Files#\0"
                                 "MyDocuments#\0Desktop#\0AppData#\0LocalAppData#\0AllUsersAppData#\0"
                                 "AllUsersDocuments#\0AllUsersDesktop#\0UserDir#\0AllUsersDir#\0"
                                 "InstallDir#\0";

// What a fallback appends, as offsets into one text: the NT line appends the whole suffix, the 9x
// line a shorter one (without the leading backslash or "Local Settings").
static constexpr char MacroSuffixes[] = "\\Local Settings\\Application Data\0\\All Users\\Application Data\0"
                                        "\\All Users\\Documents\0\\All Users\\Desktop\0\\All Users";
enum {
    SUFFIX_LOCAL_APPLICATION_DATA = 0,
    SUFFIX_APPLICATION_DATA = 15,
    SUFFIX_NONE = 32,
    SUFFIX_ALL_USERS_APPLICATION_DATA = 33,
    SUFFIX_ALL_USERS_DOCUMENTS = 61,
    SUFFIX_ALL_USERS_DESKTOP = 82,
    SUFFIX_ALL_USERS = 101,
};
static_assert(MacroSuffixes[SUFFIX_APPLICATION_DATA + 1] == 'A' && MacroSuffixes[SUFFIX_NONE] == '\0' &&
                  MacroSuffixes[SUFFIX_ALL_USERS_APPLICATION_DATA + 11] == 'A' &&
                  MacroSuffixes[SUFFIX_ALL_USERS_DOCUMENTS + 11] == 'D' &&
                  MacroSuffixes[SUFFIX_ALL_USERS_DESKTOP + 11] == 'D' && MacroSuffixes[SUFFIX_ALL_USERS + 1] == 'A' &&
                  MacroSuffixes[SUFFIX_ALL_USERS - 1] == '\0',
              "suffix offsets");

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
    BYTE Suffix9x;
};

static const MacroRow MacroRows[] = {
    {FOLDER_WINDOWS, FALLBACK_NONE, SUFFIX_NONE, SUFFIX_NONE},
    {FOLDER_SYSTEM, FALLBACK_NONE, SUFFIX_NONE, SUFFIX_NONE},
    {SOURCE_TEMP, FALLBACK_NONE, SUFFIX_NONE, SUFFIX_NONE},
    {SOURCE_COMMON_FILES, FALLBACK_NONE, SUFFIX_NONE, SUFFIX_NONE},
    {SOURCE_PROGRAM_FILES, FALLBACK_NONE, SUFFIX_NONE, SUFFIX_NONE},
    {CSIDL_PERSONAL, FALLBACK_NONE, SUFFIX_NONE, SUFFIX_NONE},
    {CSIDL_DESKTOPDIRECTORY, FALLBACK_NONE, SUFFIX_NONE, SUFFIX_NONE},
    {CSIDL_APPDATA, FALLBACK_PROFILE, SUFFIX_APPLICATION_DATA, SUFFIX_APPLICATION_DATA + 1},
    {CSIDL_LOCAL_APPDATA, FALLBACK_LAST_PART, SUFFIX_LOCAL_APPLICATION_DATA, SUFFIX_APPLICATION_DATA + 1},
    {CSIDL_COMMON_APPDATA, FALLBACK_LAST_TWO_PARTS, SUFFIX_ALL_USERS_APPLICATION_DATA,
     SUFFIX_ALL_USERS_APPLICATION_DATA + 1},
    {CSIDL_COMMON_DOCUMENTS, FALLBACK_LAST_TWO_PARTS, SUFFIX_ALL_USERS_DOCUMENTS, SUFFIX_ALL_USERS_DOCUMENTS + 1},
    {CSIDL_COMMON_DESKTOPDIRECTORY, FALLBACK_LAST_TWO_PARTS, SUFFIX_ALL_USERS_DESKTOP, SUFFIX_ALL_USERS_DESKTOP + 1},
    {CSIDL_PROFILE, FALLBACK_USER_DIR, SUFFIX_NONE, SUFFIX_NONE}, // 9x: the Windows folder itself
    {SOURCE_ALL_USERS_DIR, FALLBACK_LAST_TWO_PARTS, SUFFIX_ALL_USERS, SUFFIX_ALL_USERS + 1},
    {SOURCE_INSTALL_DIR, FALLBACK_NONE, SUFFIX_NONE, SUFFIX_NONE},
};

// The Windows folder, a backslash and suffix.
static bool WindowsFolderWith(char* folder, const char* suffix)
{
    return GetFolderPath(folder, FOLDER_WINDOWS) && AppendToPath(folder, MACRO_BUFFER_SIZE, suffix);
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
        found = !commonFiles || AppendToPath(folder, MACRO_BUFFER_SIZE, "Common Files");
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
        return GetFolderPath(folder, row->Source);
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
    const char* suffix = MacroSuffixes + row->Suffix;
    if (!TheRun.IsNT)
        return WindowsFolderWith(folder, MacroSuffixes + row->Suffix9x);
    int parts = row->Fallback == FALLBACK_USER_DIR ? 1 : row->Fallback - FALLBACK_PROFILE;
    if (parts != 0 && GetShellFolderPath(folder, CSIDL_APPDATA) && CutLastParts(folder, parts) &&
        AppendText(folder, MACRO_BUFFER_SIZE, suffix))
        return true;
    if (row->Fallback == FALLBACK_USER_DIR)
        return CopyText(folder, MACRO_BUFFER_SIZE, "c:\\");
    // The all-users suffixes sit beside "Administrator", not in it.
    return WindowsFolderWith(folder, "Profiles\\Administrator") && (parts != 2 || CutLastParts(folder, 1)) &&
           AppendText(folder, MACRO_BUFFER_SIZE, suffix);
}

void ResolveMacro(char* buffer)
{
    const MacroRow* row = MacroRows;
    for (const char* name = MacroNames; !TextEqualsNoCase(buffer + 1, name); name += TextLength(name) + 1, ++row) {
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

// Puts count characters of text, or all of it up to its NUL, into the scratch area while it has room.
static void PutText(char* scratch, DWORD* at, const char* text, DWORD count)
{
    for (; count != 0 && *text != '\0' && *at < MACRO_SCRATCH_SIZE - 1; --count)
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
                PutText(scratch, &at, read, MAXDWORD); // a lone '#' stays as written
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
            PutText(scratch, &at, folder, MAXDWORD);
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
