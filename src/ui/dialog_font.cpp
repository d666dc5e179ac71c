// Placeholder: this pass is being written; the run calls it and it does nothing yet.
#include "dialog_font.h"
void NormalizeDialogFont(HWND) {}
void ReleaseDialogFont() {}
