// Registry removal: key trees depth first, single values, and the 64-bit view; and the key
// helpers of every pass that deletes registry values.
#pragma once

#include <windows.h>

typedef LONG(WINAPI* RegDeleteKeyExProc)(HKEY, const char*, REGSAM, DWORD);

void RemoveRegistryEntries();
LONG DeleteKeyTreeInView(HKEY root, const char* path, bool view64);
LONG DeleteKeyTree(HKEY parent, const char* path, REGSAM view, RegDeleteKeyExProc deleteKeyEx);

// Key helpers shared with the file and font passes, which delete values too.
// Opens name below parent with access; null when it cannot be opened (also below a null parent).
HKEY OpenRegistryKey(HKEY parent, const char* name, REGSAM access);
// Deletes the value name (unless name is null) and closes key; nothing at all for a null key.
void CloseRegistryKey(HKEY key, const char* name);
