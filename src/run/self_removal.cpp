// Placeholder: this pass is being written; the run calls it and it does nothing yet.
#include "self_removal.h"
HANDLE CreateTempBatch(char*, const char*) { return INVALID_HANDLE_VALUE; }
void StartSelfRemoval() {}
