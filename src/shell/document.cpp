// Placeholder: this pass is being written; the run calls it and it does nothing yet.
#include "document.h"
void OpenDocument(const char*, const char*) {}
LONG ReadClassesRootDefault(HKEY, const char*, char*) { return 2; }
