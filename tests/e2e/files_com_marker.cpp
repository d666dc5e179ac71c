// A test COM server whose DllUnregisterServer leaves a marker file beside the DLL
// ("<dll path>.marker") telling who called it: the process id, the current directory, the
// process error mode at the time of the call and the process's command line, one per line.
#include <windows.h>

#include <string>

#include "files_com_server.h"

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer()
{
    return S_OK;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer()
{
    char directory[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, directory);
    UINT errorMode = SetErrorMode(0);
    SetErrorMode(errorMode);
    std::string text = "pid=" + std::to_string(GetCurrentProcessId()) + "\r\ncwd=" + directory +
                       "\r\nerrormode=" + std::to_string(errorMode) + "\r\ncmdline=" + GetCommandLineA() + "\r\n";
    return WriteMarker(text) ? S_OK : E_FAIL;
}
