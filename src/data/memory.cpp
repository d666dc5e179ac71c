// Memory helpers with one retry after compacting the heap. There is no handler that waits or asks
// the user: a request that fails twice is reported by the caller (the loader shows message 7).
#include "memory.h"

#include "heap.h"

bool MemAllocBlock(DWORD size, void** block, bool zeroed)
{
    *block = HeapBlockAlloc(size, zeroed);
    if (*block == nullptr) {
        HeapCompactNow();
        *block = HeapBlockAlloc(size, zeroed);
    }
    return *block != nullptr;
}

bool MemResizeBlock(DWORD size, void** block)
{
    void* resized = HeapBlockResize(*block, size);
    if (resized == nullptr) {
        HeapCompactNow();
        resized = HeapBlockResize(*block, size);
    }
    if (resized == nullptr)
        return false;
    *block = resized;
    return true;
}

void MemReleaseBlock(void** block)
{
    if (*block != nullptr) {
        HeapBlockFree(*block);
        *block = nullptr;
    }
}
