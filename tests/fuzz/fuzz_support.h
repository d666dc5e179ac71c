// What the fuzz targets and the allocation sweep share: how fuzz input becomes an uninstaller's
// file, and how two readings of it are compared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "format_reader.h"
#include "format_writer.h"

namespace fuzz {

// Fuzz input is the chain alone; it is read behind a 16-byte stand-in for the stub.
constexpr uint32_t CHAIN_OFFSET = 16;
quillon::Bytes FileWithChain(const uint8_t* chain, size_t size);

// The first difference between two readings, or empty when they hold the same entries, texts
// and settings.
std::string Difference(const quillon::UninstallData& a, const quillon::UninstallData& b);

// Stops the process with a message (the fuzzer keeps the input that did it).
[[noreturn]] void Finding(const std::string& what);

} // namespace fuzz
