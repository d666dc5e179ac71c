// Placeholder: this pass is being written; the run calls it and it does nothing yet.
#include "pre_command.h"
void RunPreUninstallCommand() {}
