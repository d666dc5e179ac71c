// Byte strings for the native format tests, written out as lists of numbers.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "format_writer.h"

namespace native_test {

inline quillon::Bytes B(std::initializer_list<int> values) {
    quillon::Bytes out;
    for (int v : values) out.push_back(static_cast<uint8_t>(v));
    return out;
}

} // namespace native_test
