// A heap for test builds of the stub that fails chosen requests. The environment variable
// QUILLON_FAIL_ALLOC holds "N,COUNT": the first N requests succeed, the next COUNT fail, and the
// ones after them succeed again (no variable: nothing fails). A request and its one retry are two
// requests. It lets the tests drive the stub's out-of-memory paths through the real program.
#include "data/heap.h"

static LONG RequestsToGrant = -2; // -2: not read yet; -1: never fail
static LONG RequestsToFail = 0;

static LONG ParseNumber(const char** text)
{
    LONG number = 0;
    for (; **text >= '0' && **text <= '9'; ++*text)
        number = number * 10 + (**text - '0');
    return number;
}

static bool GrantRequest()
{
    if (RequestsToGrant == -2) {
        char value[32];
        DWORD length = GetEnvironmentVariableA("QUILLON_FAIL_ALLOC", value, sizeof value);
        RequestsToGrant = -1;
        if (length > 0 && length < sizeof value) {
            const char* at = value;
            RequestsToGrant = ParseNumber(&at);
            if (*at == ',') {
                ++at;
                RequestsToFail = ParseNumber(&at);
            }
        }
    }
    if (RequestsToGrant == -1)
        return true;
    if (RequestsToGrant > 0) {
        --RequestsToGrant;
        return true;
    }
    if (RequestsToFail > 0) {
        --RequestsToFail;
        return false;
    }
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
