// Placeholder: this pass is being written; the run calls it and it does nothing yet.
#include "com_server.h"
void UnregisterComServer() {}
