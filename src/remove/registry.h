// Registry removal: key trees depth first, single values, and the 64-bit view.
#pragma once

#include <windows.h>

#include "../data/lists.h"

// NtDeleteKey of ntdll: deletes the key an open handle names (NT line only). Returns 0 or an NT
// status.
typedef LONG(NTAPI* DeleteKeyByHandleProc)(HANDLE);

void RemoveRegistryEntries();
// The view an entry names: "Software64..." under HKEY_LOCAL_MACHINE loses its "64" in place and
// means the 64-bit view on the NT line. Returns 0 or KEY_WOW64_64KEY.
REGSAM MapRegistryView(RegistryEntry* entry);
// True for a key text no entry may remove: one of the refused keys (the roots, Software, System,
// the 32-bit view, the classes, the system's own software, the services) in any spelling, or
// below HKEY_USERS a key of one part (.DEFAULT or a user's SID, each a whole user's registry).
bool IsRefusedKey(DWORD root, const char* key);
// Removes the key at path below root with its sub-keys, in the view given (0 or KEY_WOW64_64KEY),
// never following a symbolic link. 0 for success, else the first registry error or NT status.
LONG DeleteKeyTreeInView(HKEY root, const char* path, REGSAM view);
LONG DeleteKeyTree(HKEY parent, const char* path, REGSAM view, DeleteKeyByHandleProc deleteKey);
