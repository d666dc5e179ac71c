// The few Win32 declarations the stub's data sources need, for building them natively.
//
// The loader, the block and list readers, the message table, the file primitives and the memory
// helpers compile unchanged against this header; emulated_windows.cpp implements the calls beneath
// them over an in-memory file, a counting heap and a recording message box. Types keep their Win32
// widths (DWORD and LONG are 32-bit on every host).
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef int BOOL;
typedef uint32_t REGSAM;
typedef void* HANDLE;
typedef void* HWND;
typedef void* HINSTANCE;
typedef void* HMODULE;
typedef void* HFONT;
typedef void* HKEY;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef void* LPSECURITY_ATTRIBUTES;
typedef void* LPOVERLAPPED;

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)
#define MAX_PATH 260
#define MAXDWORD 0xFFFFFFFF
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define FILE_ATTRIBUTE_NORMAL 0x80
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define HEAP_ZERO_MEMORY 0x08
#define MB_OK 0x00
#define MB_ICONINFORMATION 0x40

HANDLE CreateFileA(const char* name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD attributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
DWORD GetFileSize(HANDLE file, LPDWORD high);
BOOL CloseHandle(HANDLE handle);
HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE heap, DWORD flags, size_t size);
LPVOID HeapReAlloc(HANDLE heap, DWORD flags, LPVOID block, size_t size);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block);
size_t HeapCompact(HANDLE heap, DWORD flags);
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT style);
