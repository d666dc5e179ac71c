// Reading the uninstall data back out of an uninstaller, as the stub would load it.
//
// The reader follows the stub's loader: blocks are found by their lengths, unknown tags and
// empty blocks are passed over, a later message table or settings block replaces the earlier
// one, list and pattern blocks add to what came before. Where the stub's load would fail, or
// where the data breaks a rule the stub relies on (an entry running past its block, a text
// longer than the stub's working buffers, a settings offset outside its block), the reader
// stops and says where and why; what was read before stays in the result. It also tells
// whether the chain is exactly what EncodeUninstallData writes for the data it holds, which
// is what makes a rebuild from a dump byte-identical. Portable C++17.
#pragma once

#include <cstddef>
#include <string>

#include "format_writer.h"

namespace quillon {

struct ReadReport {
    UninstallData data;       // what the stub would hold, as far as the chain could be read
    bool hasSettings = false; // a settings block was read
    bool complete = false;    // the chain was read through its end block without a fault
    size_t dataOffset = 0;    // file offset where the chain starts
    size_t stopOffset = 0;    // file offset of the fault, when not complete
    std::string stopReason;   // why reading stopped, when not complete
    bool canonical = false;   // complete, and the bytes from dataOffset to the end of the file
                              // are exactly EncodeUninstallData(data)
    std::string difference;   // when complete but not canonical: the first difference found
};

// Reads the chain that starts at dataOffset in file.
ReadReport ReadChain(const Bytes& file, size_t dataOffset);

// Finds the data offset field of an uninstaller (behind the first marker, which belongs to the
// stub part of the file) and reads the chain it points at.
ReadReport ReadUninstaller(const Bytes& file);

} // namespace quillon
