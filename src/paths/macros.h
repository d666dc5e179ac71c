// Folder macros such as "#AppData#" inside paths and command lines.
#pragma once

#include <windows.h>

// The room ResolveMacro may fill: a 259-character folder, a backslash and the longest fallback
// suffix ("Profiles\Administrator\Local Settings\Application Data"), with the NUL.
enum { MACRO_BUFFER_SIZE = 320 };

// Expands source into destination (size bytes, may be null to measure); returns the length of the
// whole expansion whatever the size.
DWORD ExpandMacros(char* destination, const char* source, DWORD size);
// Replaces the token ('#', name, '#') held in buffer (MACRO_BUFFER_SIZE bytes) by the folder it
// names, or by nothing; a macro whose folder cannot be found keeps the token.
void ResolveMacro(char* buffer);
