// The prefix code of the coded tables: a Huffman code of their UTF-16 units, and its code tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

// A prefix code for UTF-16 units and the code tree that the text store decodes it with.
struct PrefixCode {
    std::vector<uint8_t> tree;                      // the tree bytes as the file holds them
    std::map<char16_t, std::vector<uint8_t>> codes; // each unit's bits, first bit first
};

// Builds a Huffman code from the units' counts (at least one unit). Ties are broken by unit
// value, so one source always gives the same file. False when the tree cannot be written:
// a subtree would lie more than 65535 bytes away (tens of thousands of distinct units).
bool buildPrefixCode(const std::map<char16_t, uint64_t>& counts, PrefixCode* code);
