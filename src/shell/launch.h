// Starting the pre-uninstall command, and waiting for it with the windows kept alive.
#pragma once

#include <windows.h>

bool StartProgram(const char* program, const char* arguments, HANDLE* process);
bool RunProgram(const char* program, const char* arguments, bool wait);
bool IsProcessRunning(HANDLE process);

// Fills path (260 bytes) with the system's command interpreter, always by full path: cmd.exe in
// the system folder on the NT line, command.com in the Windows folder on the 9x line. Returns the
// interpreter's name within path, behind the folder's backslash; null when the folder cannot be
// had or the path does not fit.
char* GetInterpreterPath(char* path);

// Creates the process for commandLine (CreateProcessA may write to it), application naming the
// file to run (null: the line's first word), hidden or shown as the program chooses, in folder
// (null: the stub's current directory). The pre-uninstall command inherits the handles and
// normal priority; the self-removal batch neither. attributes, when given, go to the process as
// its extended start-up information (Vista and later). Returns the process handle, which the
// caller closes; null when the process could not be created.
HANDLE CreateProgramProcess(const char* application, char* commandLine, bool hidden, bool inherit,
                            const char* folder = nullptr, LPPROC_THREAD_ATTRIBUTE_LIST attributes = nullptr);
