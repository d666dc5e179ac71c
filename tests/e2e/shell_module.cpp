// A DLL that does nothing. The in-process self-removal tests load a copy of it and hand its module
// handle to the self-removal, which then removes that copy (and its folder) instead of the test
// program itself.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
