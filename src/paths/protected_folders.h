// The test for folders that no uninstall may ever remove: drive roots, the Windows and System
// folders, the shell's desktop, start menu and similar folders, Program Files and Common Files.
#pragma once

// path must be writable: a trailing backslash is taken off for the test and put back.
bool IsProtectedFolder(char* path);
