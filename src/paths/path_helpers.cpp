// Path and command-line helpers. A drive root ("C:\") is the one folder whose backslash belongs
// to its name, so stripping leaves any path of three characters or fewer alone.
#include "path_helpers.h"

#include <stdarg.h>

#include "shell_folders.h"
#include "../data/format.h"
#include "../data/run_context.h"
#include "../data/text.h"

bool AddTrailingBackslash(char* path, DWORD capacity)
{
    DWORD length = TextLength(path);
    return length == 0 || path[length - 1] == '\\' || AppendText(path, capacity, "\\");
}

bool AppendToPath(char* path, DWORD capacity, const char* name)
{
    return AddTrailingBackslash(path, capacity) && AppendText(path, capacity, name);
}

void StripTrailingBackslash(char* path)
{
    DWORD length = TextLength(path);
    if (length > 3 && path[length - 1] == '\\')
        path[length - 1] = '\0';
}

bool ComposeText(char* text, DWORD capacity, const char* format, ...)
{
    va_list texts;
    va_start(texts, format);
    text[0] = '\0';
    bool fits = true;
    char character[2] = {0, 0};
    for (; fits && *format != '\0'; ++format) {
        const char* piece = character;
        character[0] = *format;
        if (format[0] == '%' && format[1] == 's')
            piece = va_arg(texts, const char*), ++format;
        fits = AppendText(text, capacity, piece);
    }
    va_end(texts);
    return fits;
}

bool GetSystemFilePath(char* path, const char* name)
{
    return GetFolderPath(path, FOLDER_SYSTEM) && AppendToPath(path, PATH_SIZE, name);
}

bool GetUninstallerPath(char* path)
{
    return PathLengthFits(GetModuleFileNameA(TheRun.ModuleInstance, path, PATH_SIZE));
}

bool GetFolderPath(char* path, int folder)
{
    if (folder < FOLDER_SYSTEM)
        return GetShellFolderPath(path, folder);
    return PathLengthFits((folder == FOLDER_WINDOWS ? GetWindowsDirectoryA : GetSystemDirectoryA)(path, PATH_SIZE));
}

const char PROGRAM_FILES_VALUE[] = "ProgramFilesDir";
const char COMMON_FILES_VALUE[] = "CommonFilesDir";

HKEY OpenCurrentVersionKey(REGSAM view)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ | view, &key) !=
        ERROR_SUCCESS)
        return nullptr;
    return key;
}

bool ReadPathValue(HKEY key, const char* name, char* path)
{
    DWORD type;
    DWORD size = PATH_SIZE;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(path), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    // Stored text need not end in a NUL; a full buffer without one holds no complete path.
    if (size >= PATH_SIZE)
        return path[PATH_SIZE - 1] == '\0';
    path[size] = '\0';
    return true;
}

int ReadCurrentVersionPath(const char* name, char* path)
{
    HKEY key = OpenCurrentVersionKey();
    if (key == nullptr)
        return -1;
    int read = ReadPathValue(key, name, path);
    RegCloseKey(key);
    return read;
}
