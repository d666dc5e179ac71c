// Helpers shared by every part that builds or compares folder paths and command lines.
#pragma once

#include <windows.h>

// Appends '\' unless the path is empty or already ends in one. False, with the path unchanged,
// when the backslash does not fit in capacity bytes.
bool AddTrailingBackslash(char* path, DWORD capacity);
// Appends name to the path behind a backslash (added as above). False when it does not fit.
bool AppendToPath(char* path, DWORD capacity, const char* name);
// Removes one trailing '\' from a path longer than 3 characters; a drive root keeps its backslash.
void StripTrailingBackslash(char* path);

// Fills text (capacity bytes) with format, each "%s" in it replaced by the next of the texts that
// follow. False when the whole does not fit: the caller must not use a cut path or command line.
bool ComposeText(char* text, DWORD capacity, const char* format, ...);

// Fills path (260 bytes) with the system folder, a backslash and name, so that system DLLs and
// programs are reached by full path and never through a search. False when it does not fit.
bool GetSystemFilePath(char* path, const char* name);

// Folder numbers beside the shell's CSIDL numbers (which stay below them): the Windows and System
// folders, from their own calls.
enum {
    FOLDER_SYSTEM = 0x3E,
    FOLDER_WINDOWS = 0x3F,
};
// Fills path (260 bytes) with the folder a FOLDER_ or CSIDL number names. False when it cannot be
// had or does not fit.
bool GetFolderPath(char* path, int folder);

// The key under HKEY_LOCAL_MACHINE that names Program Files and Common Files, opened for reading
// in the program's own registry view or the one a KEY_WOW64_* flag names; null when it cannot be
// opened. The caller closes it. The two values' names are shared here so that the stub holds each
// text once.
HKEY OpenCurrentVersionKey(REGSAM view = 0);
extern const char PROGRAM_FILES_VALUE[];
extern const char COMMON_FILES_VALUE[];
// Reads a text value of at most 259 characters into path (260 bytes), always NUL-terminated. False
// when the value is missing, is no text, or does not fit.
bool ReadPathValue(HKEY key, const char* name, char* path);
// Reads the value name of the key above into path (260 bytes) as ReadPathValue does: 1 when it was
// read, 0 when it is missing or does not fit, -1 when the key cannot be opened.
int ReadCurrentVersionPath(const char* name, char* path);
// Fills path (260 bytes) with the uninstaller's own file name; false when it cannot be had whole.
bool GetUninstallerPath(char* path);
// True when a Windows call that fills a 260-byte path returned a length that fitted.
inline bool PathLengthFits(UINT length)
{
    return length != 0 && length < MAX_PATH;
}
