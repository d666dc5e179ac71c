// The process entry of the stub, which links without any C runtime.
//
// The entry finds the command-line text behind the program's own name, runs the uninstaller and
// ends the process with its exit value. memset and memcpy are here because the compiler may emit
// calls to them for structure copies and clears even where the code never names them.
#include <windows.h>

#include "driver.h"

extern "C" void* memset(void* destination, int value, size_t count)
{
    unsigned char* bytes = static_cast<unsigned char*>(destination);
    while (count-- != 0)
        *bytes++ = static_cast<unsigned char>(value);
    return destination;
}

extern "C" void* memcpy(void* destination, const void* source, size_t count)
{
    unsigned char* to = static_cast<unsigned char*>(destination);
    const unsigned char* from = static_cast<const unsigned char*>(source);
    while (count-- != 0)
        *to++ = *from++;
    return destination;
}

// The text behind the program name: a quoted name ends at the closing quote, a bare one at the
// first blank.
static const char* SkipProgramName(const char* line)
{
    if (*line == '"') {
        ++line;
        while (*line != '\0' && *line != '"')
            ++line;
        if (*line == '"')
            ++line;
    } else {
        while (*line != '\0' && *line != ' ' && *line != '\t')
            ++line;
    }
    while (*line == ' ' || *line == '\t')
        ++line;
    return line;
}

extern "C" void WINAPI StubEntry()
{
    int exitValue = RunUninstaller(GetModuleHandleA(nullptr), SkipProgramName(GetCommandLineA()));
    ExitProcess(static_cast<UINT>(exitValue));
}
