// Memory helpers with one retry after compacting the heap. There is no handler that waits or asks
// the user: a request that fails twice is reported by the caller (the loader shows message 7).
#include "memory.h"

#include "heap.h"

// One request to the heap: a new block (zero-filled or not), or *block resized.
static void* RequestBlock(DWORD size, void** block, MemRequest request)
{
    return request == MEM_RESIZE ? HeapBlockResize(*block, size) : HeapBlockAlloc(size, request == MEM_ZEROED);
}

bool MemRequestBlock(DWORD size, void** block, MemRequest request)
{
    void* granted = RequestBlock(size, block, request);
    if (granted == nullptr) {
        HeapCompactNow();
        granted = RequestBlock(size, block, request);
        // A failed resize leaves the old block in place; a failed allocation leaves null.
        if (granted == nullptr && request == MEM_RESIZE)
            return false;
    }
    *block = granted;
    return granted != nullptr;
}

void MemReleaseBlock(void** block)
{
    if (*block != nullptr) {
        HeapBlockFree(*block);
        *block = nullptr;
    }
}
