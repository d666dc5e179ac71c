// Placeholder: this pass is being written; the run calls it and it does nothing yet.
#include "protected_folders.h"
bool IsProtectedFolder(char*) { return true; }
