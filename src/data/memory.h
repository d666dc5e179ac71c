// Memory helpers for everything the run keeps: path buffers, loaded data, prompt buffers.
//
// A failed request is tried exactly once more after the heap has been compacted. Each helper takes
// the address of the caller's pointer; MemRelease frees and nulls it, so a released pointer can
// never be used or freed twice.
#pragma once

#include <windows.h>

bool MemAllocBlock(DWORD size, void** block, bool zeroed);
bool MemResizeBlock(DWORD size, void** block);
void MemReleaseBlock(void** block);

template <typename T> inline bool MemAlloc(DWORD size, T** block)
{
    return MemAllocBlock(size, reinterpret_cast<void**>(block), false);
}
template <typename T> inline bool MemAllocZeroed(DWORD size, T** block)
{
    return MemAllocBlock(size, reinterpret_cast<void**>(block), true);
}
template <typename T> inline bool MemResize(DWORD size, T** block)
{
    return MemResizeBlock(size, reinterpret_cast<void**>(block));
}
template <typename T> inline void MemRelease(T** block)
{
    MemReleaseBlock(reinterpret_cast<void**>(block));
}
