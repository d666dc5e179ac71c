// A heap for test builds of the stub that fails every request after the first N, with N taken
// from the environment variable QUILLON_FAIL_ALLOC_AFTER (no variable: it never fails). It lets
// the tests drive the stub's out-of-memory paths through the real program.
#include "data/heap.h"

static LONG RequestsLeft = -2; // -2: not read yet; -1: never fail

static bool GrantRequest()
{
    if (RequestsLeft == -2) {
        char value[16];
        DWORD length = GetEnvironmentVariableA("QUILLON_FAIL_ALLOC_AFTER", value, sizeof value);
        RequestsLeft = -1;
        if (length > 0 && length < sizeof value) {
            LONG number = 0;
            for (DWORD index = 0; index < length && value[index] >= '0' && value[index] <= '9'; ++index)
                number = number * 10 + (value[index] - '0');
            RequestsLeft = number;
        }
    }
    if (RequestsLeft == -1)
        return true;
    if (RequestsLeft == 0)
        return false;
    --RequestsLeft;
    return true;
}

void* HeapBlockAlloc(DWORD size, bool zeroed)
{
    return GrantRequest() ? HeapAlloc(GetProcessHeap(), zeroed ? HEAP_ZERO_MEMORY : 0, size) : nullptr;
}

void* HeapBlockResize(void* block, DWORD size)
{
    return GrantRequest() ? HeapReAlloc(GetProcessHeap(), 0, block, size) : nullptr;
}

void HeapBlockFree(void* block)
{
    HeapFree(GetProcessHeap(), 0, block);
}

void HeapCompactNow()
{
}
