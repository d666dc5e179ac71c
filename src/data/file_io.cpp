// File primitives over Win32 handles. Positions are 32-bit: the uninstaller's file and the fonts
// it reads are far below 4 GiB.
#include "file_io.h"

HANDLE OpenExistingFile(const char* path, OpenMode mode)
{
    DWORD access = mode == OPEN_MODE_READ_WRITE ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ;
    return CreateFileA(path, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE CreateFileForWriting(const char* path)
{
    return CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

int ReadExact(HANDLE file, void* destination, DWORD count)
{
    DWORD read; // only looked at when the read succeeded, which sets it
    return !ReadFile(file, destination, count, &read, nullptr) || read != count;
}

DWORD TellFile(HANDLE file)
{
    return SetFilePointer(file, 0, nullptr, FILE_CURRENT);
}

void SeekFile(HANDLE file, DWORD position)
{
    // The high part makes the position unsigned: a far position lies past the end, where the next
    // read comes up short, instead of failing as a negative seek that would leave the file where it was.
    LONG high = 0;
    SetFilePointer(file, static_cast<LONG>(position), &high, FILE_BEGIN);
}

void CloseFile(HANDLE file)
{
    CloseHandle(file);
}
