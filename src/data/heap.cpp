// The raw process heap beneath the memory helpers.
#include "heap.h"

void* HeapBlockAlloc(DWORD size, bool zeroed)
{
    return HeapAlloc(GetProcessHeap(), zeroed ? HEAP_ZERO_MEMORY : 0, size);
}

void* HeapBlockResize(void* block, DWORD size)
{
    return HeapReAlloc(GetProcessHeap(), 0, block, size);
}

void HeapBlockFree(void* block)
{
    HeapFree(GetProcessHeap(), 0, block);
}

void HeapCompactNow()
{
    // Hands unused pages back and coalesces free blocks before the one retry.
    SetProcessWorkingSetSize(GetCurrentProcess(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
    HeapCompact(GetProcessHeap(), 0);
}
