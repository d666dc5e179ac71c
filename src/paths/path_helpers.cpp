// Trailing-backslash helpers. A drive root ("C:\") is the one folder whose backslash belongs to
// its name, so stripping leaves any path of three characters or fewer alone.
#include "path_helpers.h"

#include "../data/format.h"
#include "../data/text.h"

bool AddTrailingBackslash(char* path, DWORD capacity)
{
    DWORD length = TextLength(path);
    if (length == 0 || path[length - 1] == '\\')
        return true;
    if (length + 2 > capacity)
        return false;
    path[length] = '\\';
    path[length + 1] = '\0';
    return true;
}

void StripTrailingBackslash(char* path)
{
    DWORD length = TextLength(path);
    if (length > 3 && path[length - 1] == '\\')
        path[length - 1] = '\0';
}

bool GetSystemFilePath(char* path, const char* name)
{
    UINT length = GetSystemDirectoryA(path, PATH_SIZE);
    if (length == 0 || length >= PATH_SIZE)
        return false;
    return AddTrailingBackslash(path, PATH_SIZE) && AppendText(path, PATH_SIZE, name);
}

const char PROGRAM_FILES_VALUE[] = "ProgramFilesDir";
const char COMMON_FILES_VALUE[] = "CommonFilesDir";

HKEY OpenCurrentVersionKey()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ, &key) !=
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
