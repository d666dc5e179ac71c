// File primitives: the loader's, the in-use test's, the font reader's and the batch writer's only
// way to files. Platform errors are not kept: callers see an invalid handle or a 0/1 result.
#pragma once

#include <windows.h>

enum OpenMode { OPEN_MODE_READ, OPEN_MODE_READ_WRITE };

HANDLE OpenExistingFile(const char* path, OpenMode mode);
HANDLE CreateFileForWriting(const char* path);
int ReadExact(HANDLE file, void* destination, DWORD count); // 0 when exactly count bytes came
DWORD TellFile(HANDLE file);
void SeekFile(HANDLE file, DWORD position);
void CloseFile(HANDLE file);
