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
    // Coalesces free blocks and hands unused pages back before the one retry.
    HeapCompact(GetProcessHeap(), 0);
}
