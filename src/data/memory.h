// Memory helpers for everything the run keeps: path buffers, loaded data, prompt buffers.
//
// A failed request is tried exactly once more after the heap has been compacted. Each helper takes
// the address of the caller's pointer; MemRelease frees and nulls it, so a released pointer can
// never be used or freed twice.
#pragma once

#include <windows.h>

enum MemRequest { MEM_PLAIN, MEM_ZEROED, MEM_RESIZE };
bool MemRequestBlock(DWORD size, void** block, MemRequest request);
void MemReleaseBlock(void** block);

template <typename T> inline bool MemAlloc(DWORD size, T** block)
{
    return MemRequestBlock(size, reinterpret_cast<void**>(block), MEM_PLAIN);
}
template <typename T> inline bool MemAllocZeroed(DWORD size, T** block)
{
    return MemRequestBlock(size, reinterpret_cast<void**>(block), MEM_ZEROED);
}
template <typename T> inline bool MemResize(DWORD size, T** block)
{
    return MemRequestBlock(size, reinterpret_cast<void**>(block), MEM_RESIZE);
}
template <typename T> inline void MemRelease(T** block)
{
    MemReleaseBlock(reinterpret_cast<void**>(block));
}
