// A test COM server whose DllUnregisterServer leaves a marker file beside the DLL
// ("<dll path>.marker") telling who called it: the process id, the current directory, the
// process error mode at the time of the call and the process's command line, one per line.
#include <windows.h>

#include <string>

static HMODULE ThisModule;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH)
        ThisModule = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer()
{
    return S_OK;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer()
{
    char path[MAX_PATH];
    char directory[MAX_PATH] = "";
    if (GetModuleFileNameA(ThisModule, path, MAX_PATH) == 0)
        return E_FAIL;
    GetCurrentDirectoryA(MAX_PATH, directory);
    UINT errorMode = SetErrorMode(0);
    SetErrorMode(errorMode);
    std::string text = "pid=" + std::to_string(GetCurrentProcessId()) + "\r\ncwd=" + directory +
                       "\r\nerrormode=" + std::to_string(errorMode) + "\r\ncmdline=" + GetCommandLineA() + "\r\n";
    std::string marker = std::string(path) + ".marker";
    HANDLE file = CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return E_FAIL;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return S_OK;
}
