// A test COM server whose DllUnregisterServer leaves a marker file beside the DLL
// ("<dll path>.marker") and then writes through a null pointer: the access violation the
// uninstaller must survive.
#include <windows.h>

#include "files_com_server.h"

extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer()
{
    WriteMarker("entered\r\n");
    // Registers that the compiler's code relies on are clobbered on the way, as a broken server
    // might leave them, before the fault. On x64 the callers' registers include r12 to r15 and
    // xmm6 to xmm15 as well.
#if defined(__x86_64__)
    asm volatile("movq $0x12345678, %%r12\n\tmovq $0x23456789, %%r13\n\tmovq $0x3456789a, %%r14\n\t"
                 "movq $0x456789ab, %%r15\n\tpcmpeqd %%xmm6, %%xmm6\n\tpcmpeqd %%xmm15, %%xmm15"
                 :
                 :
                 : "r12", "r13", "r14", "r15", "xmm6", "xmm15");
#endif
    asm volatile("movl $0x12345678, %%ebx\n\tmovl $0x23456789, %%esi\n\tmovl $0x3456789a, %%edi\n\tstd\n\t"
                 "movl $0, %%eax\n\tmovl $1, (%%eax)"
                 :
                 :
                 : "eax", "ebx", "esi", "edi", "memory");
    return S_OK;
}
