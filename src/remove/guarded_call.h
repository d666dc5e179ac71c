// A call into foreign code that cannot bring the uninstaller down: the COM pass calls a server's
// DllUnregisterServer through it.
#pragma once

#include <windows.h>

// Calls entry (stdcall, no arguments, result ignored). An exception that the foreign code raises
// and does not handle itself ends the call as if it had returned; the registers the caller keeps
// are what they were before the call.
void CallGuarded(FARPROC entry);
