// A test COM server that imports a DLL shipped beside it (files_com_helper.dll), as many servers
// do. Its DllUnregisterServer leaves "<dll path>.marker" holding the helper's value.
#include <windows.h>

#include <string>

#include "files_com_server.h"

extern "C" __declspec(dllimport) int FilesComHelperValue();

extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer()
{
    return WriteMarker("helper=" + std::to_string(FilesComHelperValue()) + "\r\n") ? S_OK : E_FAIL;
}
