// What the emulated Win32 calls hold, for the tests that drive the stub's own loader natively.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace emulated {

// The one file that CreateFileA opens.
constexpr const char FILE_NAME[] = "C:\\App\\uninstall.exe";

struct Box {
    std::string text;
    std::string caption;
    UINT style;
};

struct State {
    std::vector<uint8_t> file;
    uint64_t position = 0;
    int openHandles = 0;
    long liveBlocks = 0;     // heap blocks handed out and not yet freed, over the whole process
    size_t requests = 0;     // heap requests (allocations and resizes) since Reset
    size_t failFrom = 0;     // the first request that fails, counted from 1; 0: none fails
    size_t failCount = 0;    // how many requests from failFrom on fail
    std::vector<Box> boxes;  // every message box, in order
};
extern State state;

// A fresh file holding bytes; no request fails; no boxes.
void Reset(const uint8_t* bytes, size_t size);

} // namespace emulated
