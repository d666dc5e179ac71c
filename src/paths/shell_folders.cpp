// Shell folder lookup by CSIDL number: the shell's item list for the folder, turned into a path
// and freed with the shell's own allocator. Test builds link a lookup of their own instead.
#include "shell_folders.h"

#include <shlobj.h>

bool GetShellFolderPath(char* path, int csidl)
{
    LPITEMIDLIST list = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &list)) || list == nullptr)
        return false;
    // SHGetPathFromIDListA writes at most MAX_PATH bytes, so a path it gives always fits.
    bool found = SHGetPathFromIDListA(list, path) != FALSE;
    IMalloc* allocator;
    if (SUCCEEDED(SHGetMalloc(&allocator))) {
        allocator->Free(list);
        allocator->Release();
    }
    if (!found)
        path[0] = '\0'; // what a failed conversion left is no path
    return found;
}
