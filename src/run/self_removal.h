// Removal of the uninstaller's own executable and folder by a batch that outlives the process.
#pragma once

#include <windows.h>

HANDLE CreateTempBatch(char* path, const char* nameFormat);

// The access list a batch gets on the NT line, in the system's security descriptor language.
extern const char BatchAccessList[];
void StartSelfRemoval();
