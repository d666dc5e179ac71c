// Starting the pre-uninstall command, and waiting for it with the windows kept alive.
#pragma once

#include <windows.h>

bool StartProgram(const char* program, const char* arguments, HANDLE* process);
bool RunProgram(const char* program, const char* arguments, bool wait);
bool IsProcessRunning(HANDLE process);
