// Placeholder: this pass is being written; the run calls it and it does nothing yet.
#include "fonts.h"
void GetFontFullName(const char*, char* buffer, DWORD) { buffer[0] = 0; }
void RemoveFont(const char*) {}
