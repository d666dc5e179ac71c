// Shell folder lookup by CSIDL number. Kept in a file of its own so that test builds can link a
// lookup that fails or answers chosen paths, and so reach the fallbacks of the folder macros.
#pragma once

// path: 260 bytes. True when the shell gave a file-system path.
bool GetShellFolderPath(char* path, int csidl);
