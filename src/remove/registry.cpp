// Placeholder: this pass is being written; the run calls it and it does nothing yet.
#include "registry.h"
void RemoveRegistryEntries() {}
LONG DeleteKeyTreeInView(HKEY, const char*, bool) { return 0; }
LONG DeleteKeyTree(HKEY, const char*, REGSAM, RegDeleteKeyExProc) { return 0; }
