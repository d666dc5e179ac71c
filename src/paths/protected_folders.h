// The test for folders that no uninstall may ever remove: drive roots, the Windows and System
// folders, the shell's desktop, start menu, profile and similar folders, Program Files and Common
// Files.
#pragma once

// True when the folder at path must stay. path is taken as Windows resolves it; what cannot be
// resolved counts as protected, unless the folder is missing.
bool IsProtectedFolder(const char* path);
