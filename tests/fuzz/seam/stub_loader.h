// The stub's own loader, built natively over the emulated Win32 calls, as the fuzz targets and the
// native tests use it: load bytes as the uninstaller's file, see what it kept and what it showed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "format_writer.h"

namespace stub_loader {

struct Shown {
    std::string text;
    std::string caption;
};

struct Load {
    bool loaded = false;
    quillon::UninstallData data; // what the stub kept, in the packer's terms (also after a failure)
    bool hasSettings = false;
    std::vector<Shown> boxes;    // the message boxes the load showed
    size_t requests = 0;         // heap requests the load made
    long leakedBlocks = 0;       // heap blocks left after the stub released everything
    bool fileLeftOpen = false;
    std::string noMemoryText, readErrorText; // messages 7 and 8 as the stub formats them, when loaded
};

// Loads file with the chain at offset. Heap requests failFrom to failFrom + failCount - 1 (counted
// from 1) fail; failFrom 0 fails none. Everything the load produced is released before returning.
Load LoadFile(const uint8_t* file, size_t size, uint32_t offset, size_t failFrom = 0, size_t failCount = 0);

// The uninstaller's path as the load reports it.
const char* ModulePath();

} // namespace stub_loader
