// Registry removal: key trees depth first, single values, and the 64-bit view.
#pragma once

#include <windows.h>

typedef LONG(WINAPI* RegDeleteKeyExProc)(HKEY, const char*, REGSAM, DWORD);

void RemoveRegistryEntries();
LONG DeleteKeyTreeInView(HKEY root, const char* path, bool view64);
LONG DeleteKeyTree(HKEY parent, const char* path, REGSAM view, RegDeleteKeyExProc deleteKeyEx);
