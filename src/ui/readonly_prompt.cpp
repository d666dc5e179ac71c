// Placeholder: this pass is being written; the run calls it and it does nothing yet.
#include "readonly_prompt.h"
int ShowReadOnlyPrompt(const char*) { return 7; }
