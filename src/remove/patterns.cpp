// Placeholder: this pass is being written; the run calls it and it does nothing yet.
#include "patterns.h"
void RemovePatterns() {}
void RemovePatternInCwd(const char*) {}
void RemoveCwdAndStepUp() {}
