// A test COM server that imports a DLL shipped beside it (files_com_helper.dll), as many servers
// do. Its DllUnregisterServer leaves "<dll path>.marker" holding the helper's value.
#include <windows.h>

#include <string>

extern "C" __declspec(dllimport) int FilesComHelperValue();

static HMODULE ThisModule;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH)
        ThisModule = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer()
{
    char path[MAX_PATH];
    if (GetModuleFileNameA(ThisModule, path, MAX_PATH) == 0)
        return E_FAIL;
    std::string text = "helper=" + std::to_string(FilesComHelperValue()) + "\r\n";
    std::string marker = std::string(path) + ".marker";
    HANDLE file = CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return E_FAIL;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return S_OK;
}
