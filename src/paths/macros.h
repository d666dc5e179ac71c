// Folder macros such as "#AppData#" inside paths and command lines.
#pragma once

#include <windows.h>

// Expands source into destination (size bytes, may be null to measure); returns the length of the
// whole expansion whatever the size.
DWORD ExpandMacros(char* destination, const char* source, DWORD size);
// Replaces the token ('#', name, '#') held in buffer by the folder it names, or by nothing.
void ResolveMacro(char* buffer);
