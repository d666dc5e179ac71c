// Removal of the uninstaller's own executable and folder by a batch that outlives the process.
#pragma once

#include <windows.h>

HANDLE CreateTempBatch(char* path, const char* nameFormat);

// The security descriptor, with its access list, that a batch gets on the NT line.
struct BatchDescriptor;
extern const BatchDescriptor BatchSecurity;
void StartSelfRemoval();
