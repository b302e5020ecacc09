// A decoded string table, and the decoder that fills it from a table's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// One decoded string table. The strings sit back to back, each with its 0 terminator, in
// `units`; `strings[k]` points at string k. The table is neither copied nor moved once filled,
// as the pointers lead into its own buffer.
struct StringTable {
    int language = 0;
    int32_t tableNumber = 0;
    std::vector<char16_t> units; // empty when the table holds no strings
    std::vector<const char16_t*> strings;

    StringTable() = default;
    StringTable(const StringTable&) = delete;
    StringTable& operator=(const StringTable&) = delete;
};

// What decodeStringTable finds. Only kDecodeDamaged makes the table unusable.
constexpr int kDecodeOk = 0;
constexpr int kDecodeCutShort = 1; // the data ends inside a string; the strings before it stand
constexpr int kDecodeDamaged = 2;  // the bits lead outside the code tree; no strings

// The output of a coded table grows by this many units at a time.
constexpr int kDecodeGrowth = 1024;

// Fills an empty table from a table's bytes. `tree` is the file's code tree, or nullptr for a
// plain file, whose strings are cut at lastIndex + 1.
int decodeStringTable(const uint8_t* bytes, int32_t count, const std::vector<uint8_t>* tree,
                      int32_t lastIndex, StringTable* table);
