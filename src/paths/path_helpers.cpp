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
