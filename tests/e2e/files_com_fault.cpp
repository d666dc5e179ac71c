// A test COM server whose DllUnregisterServer leaves a marker file beside the DLL
// ("<dll path>.marker") and then writes through a null pointer: the access violation the
// uninstaller must survive.
#include <windows.h>

#include <string>

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
    if (GetModuleFileNameA(ThisModule, path, MAX_PATH) != 0) {
        std::string marker = std::string(path) + ".marker";
        HANDLE file = CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, "entered\r\n", 9, &written, nullptr);
            CloseHandle(file);
        }
    }
    // Registers that the compiler's code relies on are clobbered on the way, as a broken server
    // might leave them, before the fault.
    asm volatile("movl $0x12345678, %%ebx\n\tmovl $0x23456789, %%esi\n\tmovl $0x3456789a, %%edi\n\tstd\n\t"
                 "movl $0, %%eax\n\tmovl $1, (%%eax)"
                 :
                 :
                 : "eax", "ebx", "esi", "edi", "memory");
    return S_OK;
}
