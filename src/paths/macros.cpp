// Placeholder: this pass is being written; the run calls it and it does nothing yet.
#include "macros.h"
#include "../data/text.h"
DWORD ExpandMacros(char* destination, const char* source, DWORD size)
{
    DWORD length = TextLength(source);
    if (destination != nullptr && size != 0)
        CopyText(destination, size, source);
    return length;
}
void ResolveMacro(char* buffer) { buffer[0] = 0; }
