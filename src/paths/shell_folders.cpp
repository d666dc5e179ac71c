// Placeholder: this pass is being written; the run calls it and it does nothing yet.
#include "shell_folders.h"
bool GetShellFolderPath(char*, int) { return false; }
