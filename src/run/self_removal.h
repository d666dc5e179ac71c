// Removal of the uninstaller's own executable and folder by a batch that outlives the process.
#pragma once

#include <windows.h>

HANDLE CreateTempBatch(char* path, const char* nameFormat);
void StartSelfRemoval();
