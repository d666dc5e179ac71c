// The guarded call: each flavour's way of catching what foreign code raises and does not handle.
//
// GCC has no __try, so the guard is built by hand, and this file is the one place where the two
// flavours differ in code. Both resume at the instruction behind the call with the guard's own
// frame, restore every register the caller keeps from that frame, and return as if the call had
// come back. The foreign code's own handlers, which lie deeper in the stack, see the exception
// first; the guard takes only what they leave.
//
// x86: frame-based handling. The guard links an exception registration record into the thread's
// handler chain (fs:[0]) for the duration of the call; the record carries, after the two fields
// the system reads, the guard's frame pointer and the address to resume at. The resume path
// unlinks the record, and with it anything the server left linked above it.
//
// x64: table-based handling. The guard is a procedure with unwind data (.seh_* directives) that
// names GuardHandler as its handler, so the system's dispatcher calls it once the server's frames
// have passed the exception on. Its establisher frame is the guard's stack pointer after its
// prologue, which is where the resume path expects it.
#include "guarded_call.h"

#if defined(__x86_64__)

extern "C" void CallGuardedEntry(FARPROC entry);
extern "C" char CallGuardedResume[];

extern "C" __attribute__((used)) EXCEPTION_DISPOSITION GuardHandler(EXCEPTION_RECORD* exception, void* establisherFrame, CONTEXT* context, void*)
{
    // Unwinds started by someone else pass through; the guard only resumes on a first dispatch.
    if (exception->ExceptionFlags & EXCEPTION_UNWIND)
        return ExceptionContinueSearch;
    context->Rsp = reinterpret_cast<DWORD64>(establisherFrame);
    context->Rip = reinterpret_cast<DWORD64>(CallGuardedResume);
    return ExceptionContinueExecution;
}

// The frame below the saved general registers: 32 bytes of home space for the callee, then xmm6
// to xmm15 (which Win64 callers keep too), 200 bytes in all, so that the call is made with the
// stack aligned to 16 bytes.
asm(".section .text$CallGuarded,\"x\"\n"
    ".globl CallGuardedEntry\n"
    ".globl CallGuardedResume\n"
    ".def CallGuardedEntry; .scl 2; .type 32; .endef\n"
    ".seh_proc CallGuardedEntry\n"
    "CallGuardedEntry:\n"
    "    pushq %rbp\n"  ".seh_pushreg %rbp\n"
    "    pushq %rbx\n"  ".seh_pushreg %rbx\n"
    "    pushq %rsi\n"  ".seh_pushreg %rsi\n"
    "    pushq %rdi\n"  ".seh_pushreg %rdi\n"
    "    pushq %r12\n"  ".seh_pushreg %r12\n"
    "    pushq %r13\n"  ".seh_pushreg %r13\n"
    "    pushq %r14\n"  ".seh_pushreg %r14\n"
    "    pushq %r15\n"  ".seh_pushreg %r15\n"
    "    subq  $200, %rsp\n" ".seh_stackalloc 200\n"
    "    movups %xmm6, 32(%rsp)\n"   ".seh_savexmm %xmm6, 32\n"
    "    movups %xmm7, 48(%rsp)\n"   ".seh_savexmm %xmm7, 48\n"
    "    movups %xmm8, 64(%rsp)\n"   ".seh_savexmm %xmm8, 64\n"
    "    movups %xmm9, 80(%rsp)\n"   ".seh_savexmm %xmm9, 80\n"
    "    movups %xmm10, 96(%rsp)\n"  ".seh_savexmm %xmm10, 96\n"
    "    movups %xmm11, 112(%rsp)\n" ".seh_savexmm %xmm11, 112\n"
    "    movups %xmm12, 128(%rsp)\n" ".seh_savexmm %xmm12, 128\n"
    "    movups %xmm13, 144(%rsp)\n" ".seh_savexmm %xmm13, 144\n"
    "    movups %xmm14, 160(%rsp)\n" ".seh_savexmm %xmm14, 160\n"
    "    movups %xmm15, 176(%rsp)\n" ".seh_savexmm %xmm15, 176\n"
    ".seh_endprologue\n"
    "    call  *%rcx\n"       // the server's DllUnregisterServer
    "    nop\n"               // the return address stays inside this procedure's range
    "CallGuardedResume:\n"
    "    cld\n"               // the compiler's code expects the direction flag clear
    "    movups 32(%rsp), %xmm6\n"
    "    movups 48(%rsp), %xmm7\n"
    "    movups 64(%rsp), %xmm8\n"
    "    movups 80(%rsp), %xmm9\n"
    "    movups 96(%rsp), %xmm10\n"
    "    movups 112(%rsp), %xmm11\n"
    "    movups 128(%rsp), %xmm12\n"
    "    movups 144(%rsp), %xmm13\n"
    "    movups 160(%rsp), %xmm14\n"
    "    movups 176(%rsp), %xmm15\n"
    "    addq  $200, %rsp\n"
    "    popq  %r15\n"
    "    popq  %r14\n"
    "    popq  %r13\n"
    "    popq  %r12\n"
    "    popq  %rdi\n"
    "    popq  %rsi\n"
    "    popq  %rbx\n"
    "    popq  %rbp\n"
    "    ret\n"
    ".seh_handler GuardHandler, @except\n"
    ".seh_endproc\n"
    ".text\n");

void CallGuarded(FARPROC entry)
{
    CallGuardedEntry(entry);
}

#else

struct GuardRecord {
    GuardRecord* Previous; // the system's EXCEPTION_REGISTRATION_RECORD: link...
    void* Handler;         // ...and handler
    DWORD SavedEbp;
    DWORD ResumeAddress;
};

static EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* exception, void* frame, CONTEXT* context, void*)
{
    // Unwinds started by someone else pass through; the guard only resumes on a first dispatch.
    if (exception->ExceptionFlags & EXCEPTION_UNWIND)
        return ExceptionContinueSearch;
    GuardRecord* record = static_cast<GuardRecord*>(frame);
    context->Esp = reinterpret_cast<DWORD>(record);
    context->Ebp = record->SavedEbp;
    context->Eip = record->ResumeAddress;
    return ExceptionContinueExecution;
}

// void CallGuardedEntry(FARPROC entry, handler): cdecl. The record is built by pushes, so it lies
// at ebp-28: Previous at -28, Handler at -24, SavedEbp at -20, ResumeAddress at -16. ebx, esi and
// edi are saved below ebp and restored from there, so the resume path needs nothing but ebp.
extern "C" void CallGuardedEntry(FARPROC entry, void* handler);
asm(".section .text$CallGuarded,\"x\"\n"
    ".globl _CallGuardedEntry\n"
    "_CallGuardedEntry:\n"
    "    pushl %ebp\n"
    "    movl  %esp, %ebp\n"
    "    pushl %ebx\n"
    "    pushl %esi\n"
    "    pushl %edi\n"
    "    pushl $1f\n"          // ResumeAddress
    "    pushl %ebp\n"         // SavedEbp
    "    pushl 12(%ebp)\n"     // Handler
    "    pushl %fs:0\n"        // Previous
    "    movl  %esp, %fs:0\n"  // linked
    "    call  *8(%ebp)\n"     // the server's DllUnregisterServer (stdcall, no arguments)
    "1:\n"
    "    movl  -28(%ebp), %eax\n"
    "    movl  %eax, %fs:0\n"  // unlinked, on both ways back
    "    cld\n"                // the compiler's code expects the direction flag clear
    "    leal  -12(%ebp), %esp\n"
    "    popl  %edi\n"
    "    popl  %esi\n"
    "    popl  %ebx\n"
    "    popl  %ebp\n"
    "    ret\n"
    ".text\n");

void CallGuarded(FARPROC entry)
{
    CallGuardedEntry(entry, reinterpret_cast<void*>(GuardHandler));
}

#endif
