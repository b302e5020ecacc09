// Writing the file's little-endian numbers into its byte vectors, through the byte-order
// helpers the text store reads them back with.
#pragma once

#include "device/little_endian.h"

#include <cstddef>
#include <cstdint>
#include <vector>

inline void putLe32(std::vector<uint8_t>* out, size_t at, uint32_t value)
{
    StoreLe32(out->data() + at, value);
}

inline void appendLe32(std::vector<uint8_t>* out, uint32_t value)
{
    out->resize(out->size() + 4);
    putLe32(out, out->size() - 4, value);
}

inline void appendLe16(std::vector<uint8_t>* out, uint16_t value)
{
    out->resize(out->size() + 2);
    StoreLe16(out->data() + out->size() - 2, value);
}
