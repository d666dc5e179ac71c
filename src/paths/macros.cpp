// Folder macros: "#AppData#" and its kind inside paths and command lines become the folders of the
// running machine and user.
//
// The expansion is built in a scratch area and then copied out, so a caller can measure first
// (no destination) and expand afterwards into a buffer of the measured size. Each macro's folder
// comes from a short program of steps in one table, run by one small interpreter: a primary source
// (a Windows call, a registry value, a shell folder or InstallDir) and, for the shell folders that
// old systems may lack, fallbacks built from the Windows folder or the AppData folder. A table
// costs bytes of data where a chain of calls would cost code. A macro whose folder cannot be found
// at all stays in the text as written, so that the run driver can tell an unexpanded command.
#include "macros.h"

#include <shlobj.h>

#include "path_helpers.h"
#include "../data/heap.h"
#include "../data/run_context.h"
#include "../data/text.h"

// Zero-filled and never written in its last byte, so the expansion is always NUL-terminated; an
// expansion that does not fit is cut at its end.
enum { MACRO_SCRATCH_SIZE = 65500 };

// How a macro's folder is found: a short program of steps per macro, run by RunMacroSteps. The
// steps build the folder one piece at a time; a step that fails makes the rest of its way fail,
// and an OR step ends the program when the way before it found the folder, or else starts the next
// way (on either line, or on one line only). The programs end with STEP_END.
enum {
    STEP_END,
    STEP_OR,
    STEP_OR_NT,
    STEP_OR_9X,
    STEP_TEMP,
    STEP_INSTALL_DIR,
    STEP_PROGRAM_FILES, // registry values: a key that cannot be opened ends the lookup, token kept
    STEP_COMMON_FILES,
    STEP_CLEAR,
    STEP_BACKSLASH,     // appended as it stands, even behind another
    STEP_CUT,           // the last backslash and what follows it go; without one the way fails
    STEP_PARENT,        // as STEP_CUT, but a drive root keeps its backslash and no backslash gives "c:\"
    STEP_FOLDER = 0x40, // | a FOLDER_ or CSIDL number
    STEP_PART = 0x80,   // | a PART_ number: that part appended behind a backslash (added if missing)
};

// The parts fallbacks append, one after another; a PART_ number counts its place in the list.
static const char MacroParts[] = "Profiles\0Administrator\0All Users\0Application Data\0Local Settings\0"
                                 "Documents\0Desktop\0Common Files";
enum {
    PART_PROFILES,
    PART_ADMINISTRATOR,
    PART_ALL_USERS,
    PART_APPLICATION_DATA,
    PART_LOCAL_SETTINGS,
    PART_DOCUMENTS,
    PART_DESKTOP,
    PART_COMMON_FILES,
};

// The macro names without their opening '#', one per program of MacroSteps and in the same order,
// closed by an empty name.
static const char MacroNames[] = "Windows#\0System#\0TempDir#\0CommonFiles#\0Program Files#\0"
                                 "MyDocuments#\0Desktop#\0AppData#\0LocalAppData#\0AllUsersAppData#\0"
                                 "AllUsersDocuments#\0AllUsersDesktop#\0UserDir#\0AllUsersDir#\0"
                                 "InstallDir#\0";

// The primary source comes first. Shell folders that old systems may lack fall back: the 9x line
// to the Windows folder and a fixed suffix; the NT line to the AppData folder with its last parts
// replaced, else to the Windows folder's "Profiles\Administrator" (the all-users folders sit
// beside "Administrator", not in it).
static const BYTE MacroSteps[] = {
    // Windows, System, TempDir
    STEP_FOLDER | FOLDER_WINDOWS, STEP_END,
    STEP_FOLDER | FOLDER_SYSTEM, STEP_END,
    STEP_TEMP, STEP_END,
    // CommonFiles: a key naming neither folder gives the empty folder.
    STEP_COMMON_FILES, STEP_OR, STEP_PROGRAM_FILES, STEP_PART | PART_COMMON_FILES, STEP_OR, STEP_CLEAR, STEP_END,
    // Program Files, MyDocuments, Desktop
    STEP_PROGRAM_FILES, STEP_END,
    STEP_FOLDER | CSIDL_PERSONAL, STEP_END,
    STEP_FOLDER | CSIDL_DESKTOPDIRECTORY, STEP_END,
    // AppData
    STEP_FOLDER | CSIDL_APPDATA,
    STEP_OR_NT, STEP_FOLDER | FOLDER_WINDOWS, STEP_PART | PART_PROFILES, STEP_PART | PART_ADMINISTRATOR,
    STEP_PART | PART_APPLICATION_DATA,
    STEP_OR_9X, STEP_FOLDER | FOLDER_WINDOWS, STEP_PART | PART_APPLICATION_DATA, STEP_END,
    // LocalAppData
    STEP_FOLDER | CSIDL_LOCAL_APPDATA,
    STEP_OR_NT, STEP_FOLDER | CSIDL_APPDATA, STEP_CUT, STEP_BACKSLASH, STEP_PART | PART_LOCAL_SETTINGS,
    STEP_PART | PART_APPLICATION_DATA,
    STEP_OR_NT, STEP_FOLDER | FOLDER_WINDOWS, STEP_PART | PART_PROFILES, STEP_PART | PART_ADMINISTRATOR,
    STEP_PART | PART_LOCAL_SETTINGS, STEP_PART | PART_APPLICATION_DATA,
    STEP_OR_9X, STEP_FOLDER | FOLDER_WINDOWS, STEP_PART | PART_APPLICATION_DATA, STEP_END,
    // AllUsersAppData
    STEP_FOLDER | CSIDL_COMMON_APPDATA,
    STEP_OR_NT, STEP_FOLDER | CSIDL_APPDATA, STEP_CUT, STEP_CUT, STEP_BACKSLASH, STEP_PART | PART_ALL_USERS,
    STEP_PART | PART_APPLICATION_DATA,
    STEP_OR_NT, STEP_FOLDER | FOLDER_WINDOWS, STEP_PART | PART_PROFILES, STEP_PART | PART_ALL_USERS,
    STEP_PART | PART_APPLICATION_DATA,
    STEP_OR_9X, STEP_FOLDER | FOLDER_WINDOWS, STEP_PART | PART_ALL_USERS, STEP_PART | PART_APPLICATION_DATA, STEP_END,
    // AllUsersDocuments
    STEP_FOLDER | CSIDL_COMMON_DOCUMENTS,
    STEP_OR_NT, STEP_FOLDER | CSIDL_APPDATA, STEP_CUT, STEP_CUT, STEP_BACKSLASH, STEP_PART | PART_ALL_USERS,
    STEP_PART | PART_DOCUMENTS,
    STEP_OR_NT, STEP_FOLDER | FOLDER_WINDOWS, STEP_PART | PART_PROFILES, STEP_PART | PART_ALL_USERS,
    STEP_PART | PART_DOCUMENTS,
    STEP_OR_9X, STEP_FOLDER | FOLDER_WINDOWS, STEP_PART | PART_ALL_USERS, STEP_PART | PART_DOCUMENTS, STEP_END,
    // AllUsersDesktop
    STEP_FOLDER | CSIDL_COMMON_DESKTOPDIRECTORY,
    STEP_OR_NT, STEP_FOLDER | CSIDL_APPDATA, STEP_CUT, STEP_CUT, STEP_BACKSLASH, STEP_PART | PART_ALL_USERS,
    STEP_PART | PART_DESKTOP,
    STEP_OR_NT, STEP_FOLDER | FOLDER_WINDOWS, STEP_PART | PART_PROFILES, STEP_PART | PART_ALL_USERS,
    STEP_PART | PART_DESKTOP,
    STEP_OR_9X, STEP_FOLDER | FOLDER_WINDOWS, STEP_PART | PART_ALL_USERS, STEP_PART | PART_DESKTOP, STEP_END,
    // UserDir: on NT, AppData's parent or else "c:\" (the parent of nothing); on 9x, the Windows folder.
    STEP_FOLDER | CSIDL_PROFILE,
    STEP_OR_NT, STEP_FOLDER | CSIDL_APPDATA, STEP_CUT,
    STEP_OR_NT, STEP_CLEAR, STEP_PARENT,
    STEP_OR_9X, STEP_FOLDER | FOLDER_WINDOWS, STEP_END,
    // AllUsersDir: the parent of the common documents folder.
    STEP_FOLDER | CSIDL_COMMON_DOCUMENTS, STEP_PARENT,
    STEP_OR_NT, STEP_FOLDER | CSIDL_APPDATA, STEP_CUT, STEP_CUT, STEP_BACKSLASH, STEP_PART | PART_ALL_USERS,
    STEP_OR_NT, STEP_FOLDER | FOLDER_WINDOWS, STEP_PART | PART_PROFILES, STEP_PART | PART_ALL_USERS,
    STEP_OR_9X, STEP_FOLDER | FOLDER_WINDOWS, STEP_PART | PART_ALL_USERS, STEP_END,
    // InstallDir
    STEP_INSTALL_DIR, STEP_END,
};

// Runs one program into folder (MACRO_BUFFER_SIZE bytes). False when no way found the folder, or
// when the registry key could not be opened. Out of line, so that the folder stays in a register.
__attribute__((noinline)) static bool RunMacroSteps(const BYTE* steps, char* folder)
{
    bool found = true;
    for (;; ++steps) {
        BYTE step = *steps;
        if (step <= STEP_OR_9X) {
            if (found || step == STEP_END)
                return found;
            found = step == STEP_OR || (step == STEP_OR_NT) == TheRun.IsNT;
        } else if (!found) {
            // The way failed: its remaining steps are skipped.
        } else if (step >= STEP_PART) {
            const char* part = MacroParts;
            for (BYTE index = step - STEP_PART; index != 0; --index)
                part += TextLength(part) + 1;
            found = AppendToPath(folder, MACRO_BUFFER_SIZE, part);
        } else if (step >= STEP_FOLDER) {
            found = GetFolderPath(folder, step - STEP_FOLDER);
        } else if (step == STEP_TEMP) {
            found = PathLengthFits(GetTempPathA(MAX_PATH, folder));
        } else if (step == STEP_INSTALL_DIR) {
            found = TheRun.InstallDir != nullptr && CopyText(folder, MACRO_BUFFER_SIZE, TheRun.InstallDir);
        } else if (step <= STEP_COMMON_FILES) {
            int read = ReadCurrentVersionPath(step == STEP_COMMON_FILES ? COMMON_FILES_VALUE : PROGRAM_FILES_VALUE, folder);
            if (read < 0)
                return false;
            found = read != 0;
        } else if (step == STEP_CLEAR) {
            folder[0] = '\0';
        } else if (step == STEP_BACKSLASH) {
            found = AppendText(folder, MACRO_BUFFER_SIZE, "\\");
        } else {
            char* last = FindLastChar(folder, '\\');
            if (last == nullptr) {
                found = step == STEP_PARENT && CopyText(folder, MACRO_BUFFER_SIZE, "c:\\");
            } else {
                if (step == STEP_PARENT && last != folder && last[-1] == ':')
                    ++last; // a drive root keeps its backslash
                *last = '\0';
            }
        }
    }
}

enum MacroLookup { MACRO_FOUND, MACRO_UNKNOWN, MACRO_NOT_FOUND };

// Fills folder (MACRO_BUFFER_SIZE bytes) with the folder of the macro whose name and closing '#'
// begin text. A name holds no '#', so that prefix is the whole token when text follows its opening
// '#'. MACRO_UNKNOWN when no macro has the name, MACRO_NOT_FOUND when its folder cannot be found.
static MacroLookup LookUpMacro(const char* text, char* folder)
{
    const BYTE* steps = MacroSteps;
    for (const char* name = MacroNames; *name != '\0'; name += TextLength(name) + 1) {
        if (TextStartsWithNoCase(text, name)) {
            if (!RunMacroSteps(steps, folder))
                return MACRO_NOT_FOUND;
            StripTrailingBackslash(folder);
            return MACRO_FOUND;
        }
        while (*steps++ != STEP_END) {
        }
    }
    return MACRO_UNKNOWN;
}

void ResolveMacro(char* buffer)
{
    // The steps write into a buffer of their own, so a lookup that fails leaves the token whole.
    char folder[MACRO_BUFFER_SIZE];
    const char* close = FindChar(buffer + 1, '#');
    MacroLookup lookup = close != nullptr && close[1] == '\0' ? LookUpMacro(buffer + 1, folder) : MACRO_UNKNOWN;
    if (lookup == MACRO_UNKNOWN)
        buffer[0] = '\0';
    else if (lookup == MACRO_FOUND)
        CopyText(buffer, MACRO_BUFFER_SIZE, folder);
}

// Writes the expansion of source into scratch (MACRO_SCRATCH_SIZE zero-filled bytes).
static void ExpandInto(char* scratch, const char* source)
{
    char* at = scratch;
    char folder[MACRO_BUFFER_SIZE];
    for (const char* read = source; *read != '\0';) {
        // One character, or a whole token's folder; a lone '#' stays as written.
        const char* text = read++;
        DWORD count = 1;
        const char* close = *text == '#' ? FindChar(read, '#') : nullptr;
        if (close != nullptr) {
            // An unknown name expands to nothing, a macro whose folder cannot be found to its
            // token as written. The folder is not scanned again, so a '#' inside a folder name is
            // never taken for a macro.
            MacroLookup lookup = LookUpMacro(read, folder);
            count = lookup == MACRO_UNKNOWN ? 0 : close - text + 1;
            if (lookup == MACRO_FOUND) {
                text = folder;
                count = MACRO_BUFFER_SIZE;
            }
            read = close + 1;
        }
        // The last byte of the zero-filled scratch area stays NUL: a longer expansion is cut.
        for (; count != 0 && *text != '\0' && at < scratch + MACRO_SCRATCH_SIZE - 1; --count)
            *at++ = *text++;
    }
}

DWORD ExpandMacros(char* destination, const char* source, DWORD size)
{
    // A plain allocation: without it the text is handed on unexpanded.
    char* scratch = static_cast<char*>(HeapBlockAlloc(MACRO_SCRATCH_SIZE, true));
    const char* expansion = source;
    if (scratch != nullptr) {
        ExpandInto(scratch, source);
        expansion = scratch;
    }
    DWORD length = TextLength(expansion);
    // A destination too small takes what fits and a NUL in its last byte; the caller tells the
    // case from the length returned. Bytes after the text are NUL.
    if (destination != nullptr) {
        FillBytes(destination, 0, size);
        CopyText(destination, size, expansion);
    }
    if (scratch != nullptr)
        HeapBlockFree(scratch);
    return length;
}
