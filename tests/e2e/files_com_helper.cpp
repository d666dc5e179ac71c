// A DLL that the dependent test COM server imports from its own folder.
#include <windows.h>

extern "C" __declspec(dllexport) int FilesComHelperValue()
{
    return 42;
}
