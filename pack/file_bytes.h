// Whole files as bytes: reading one, and writing one without ever leaving a partial file.
#pragma once

#include <string>

#include "format_writer.h"

namespace quillon {

// Reads the whole file; false, with error set, when it cannot be opened or read.
bool ReadFileBytes(const std::string& path, Bytes* out, std::string* error);
// Writes to a temporary name beside path and renames it into place, so no partial file remains.
bool WriteFileBytes(const std::string& path, const Bytes& bytes, std::string* error);

} // namespace quillon
