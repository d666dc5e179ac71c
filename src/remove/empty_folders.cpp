// Placeholder: this pass is being written; the run calls it and it does nothing yet.
#include "folder_groups.h"
void PruneEmptyFolders() {}
