// Registry removal: key trees depth first, single values, and the 64-bit view.
#pragma once

#include <windows.h>

// NtDeleteKey of ntdll: deletes the key an open handle names (NT line only). Returns 0 or an NT
// status.
typedef LONG(NTAPI* DeleteKeyByHandleProc)(HANDLE);

void RemoveRegistryEntries();
// Removes the key at path below root with its sub-keys, in the view given (0 or KEY_WOW64_64KEY),
// never following a symbolic link. 0 for success, else the first registry error or NT status.
LONG DeleteKeyTreeInView(HKEY root, const char* path, REGSAM view);
LONG DeleteKeyTree(HKEY parent, const char* path, REGSAM view, DeleteKeyByHandleProc deleteKey);
