// Writing the file's little-endian numbers into its byte vectors; the text store reads them back
// with readLe16 and readLe32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline void putLe32(std::vector<uint8_t>* out, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        (*out)[at + size_t(i)] = uint8_t(value >> (8 * i));
}

inline void appendLe32(std::vector<uint8_t>* out, uint32_t value)
{
    out->resize(out->size() + 4);
    putLe32(out, out->size() - 4, value);
}

inline void appendLe16(std::vector<uint8_t>* out, uint16_t value)
{
    out->push_back(uint8_t(value & 0xFF));
    out->push_back(uint8_t(value >> 8));
}
