// A test COM server whose DllUnregisterServer leaves a marker file beside the DLL
// ("<dll path>.marker") and then writes through a null pointer: the access violation the
// uninstaller must survive.
#include <windows.h>

#include "files_com_server.h"

extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer()
{
    WriteMarker("entered\r\n");
    // Registers that the compiler's code relies on are clobbered on the way, as a broken server
    // might leave them, before the fault.
    asm volatile("movl $0x12345678, %%ebx\n\tmovl $0x23456789, %%esi\n\tmovl $0x3456789a, %%edi\n\tstd\n\t"
                 "movl $0, %%eax\n\tmovl $1, (%%eax)"
                 :
                 :
                 : "eax", "ebx", "esi", "edi", "memory");
    return S_OK;
}
