// The raw heap underneath the memory helpers.
//
// Kept apart so that a test build can link a heap that fails on request, and so drive every
// "memory could not be had" path of the stub through the real program.
#pragma once

#include <windows.h>

void* HeapBlockAlloc(DWORD size, bool zeroed);
void* HeapBlockResize(void* block, DWORD size); // null on failure; the old block stays valid
void HeapBlockFree(void* block);
void HeapCompactNow();
