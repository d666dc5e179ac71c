// Placeholder: this pass is being written; the run calls it and it does nothing yet.
#include "progress.h"
bool OpenProgressDialog() { return false; }
void SetStatusText(int) {}
void SetProgress(unsigned) {}
void CloseProgressDialog() {}
void PumpPendingMessages() {}
