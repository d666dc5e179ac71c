// Removal of the uninstaller's own executable and folder by a batch that outlives the process.
#pragma once

#include <windows.h>

// Creates the batch file new and returns it open for writing, its full name in path (260 bytes):
// on the NT line "delme.bat" in a new folder "delme<n>" of the Windows folder's Temp, on the 9x
// line "delme<n>.bat" in the temporary folder, n from 1 to 998. An invalid handle when none could
// be made.
HANDLE CreateBatchFile(char* path);

// The security descriptor, with its access list, that the batch and its folder get on the NT line.
struct BatchDescriptor;
extern const BatchDescriptor BatchSecurity;
void StartSelfRemoval();
