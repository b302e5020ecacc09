// Byte layout of the suite's text resource files ("Help" + language code + ".kzresource").
// Every multi-byte field is little-endian; offsets count from the start of the file, except
// table offsets, which count from `dataBase`.
#pragma once

// The byte order's one home, shared with the engine's mailbox sectors (a header, no link).
#include "device/little_endian.h"

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr uint32_t kResourceMagic = 0xB28A617C;
constexpr uint32_t kResourceFormatId = 0xFE84125D;
constexpr uint32_t kResourceFormatIdAlt = 0xFE84125E; // read exactly like kResourceFormatId
constexpr uint32_t kResourceMinLevel = 4;
constexpr int32_t kHeaderSize = 328;
constexpr int32_t kDirectoryEntrySize = 12;
constexpr int kLanguageSlots = 4;
constexpr int kTableStrings = 512; // a text id's low 9 bits index its table

// Field offsets inside the header.
constexpr int kHeaderMagicAt = 0;
constexpr int kHeaderFormatIdAt = 4;
constexpr int kHeaderLevelAt = 8;
constexpr int kHeaderLanguagesAt = 12;
constexpr int kHeaderTreeOffsetAt = 40;
constexpr int kHeaderTreeSizeAt = 44;
constexpr int kHeaderDirCountAt = 56;
constexpr int kHeaderDirOffsetAt = 60;
constexpr int kHeaderDataBaseAt = 64;

struct ResourceHeader {
    uint32_t magic = 0;
    uint32_t formatId = 0;
    uint32_t formatLevel = 0;
    // Slot 0 the file's own language, slots 1 to 3 the next to try; 0 marks an empty slot.
    int32_t languages[kLanguageSlots] = {};
    int32_t treeOffset = 0;
    int32_t treeSize = 0; // 0: every table of the file is plain
    int32_t dirCount = 0; // 0 or less: no tables
    int32_t dirOffset = 0;
    int32_t dataBase = 0;
};

struct DirectoryEntry {
    int32_t tableNumber = 0; // bits 0 to 22 of the first word
    int32_t lastIndex = 0;   // bits 23 to 31: the table's string count less one
    int32_t tableOffset = 0; // from dataBase
    int32_t tableSize = 0;   // bits 0 to 30 of the third word
};

// What parseResourceHeader finds; only kHeaderOk opens the file.
constexpr int kHeaderOk = 0;
constexpr int kHeaderShort = 1;       // fewer than kHeaderSize bytes
constexpr int kHeaderBadMagic = 2;    // magic is not kResourceMagic
constexpr int kHeaderBadFormat = 3;   // formatId is neither known id
constexpr int kHeaderLevelTooLow = 4; // formatLevel below kResourceMinLevel

// Reads the header fields from `count` bytes; the language list is left as stored.
int parseResourceHeader(const uint8_t* bytes, int32_t count, ResourceHeader* header);

// Puts English where the list has no say about it: the first empty slot becomes 1, unless a
// slot before it already holds 1. A list of four other languages stays unchanged.
void completeLanguageList(int32_t languages[kLanguageSlots]);

// Splits `count` bytes into whole 12-byte directory entries.
std::vector<DirectoryEntry> parseDirectory(const uint8_t* bytes, int32_t count);

// The byte range [start, end) of a part of the file. Each gives false when the start (for a
// table: dataBase + tableOffset) or the size is negative, or the end would not fit a signed
// 32-bit offset; such a part cannot be read.
bool treeRange(const ResourceHeader& header, int32_t* start, int32_t* end);
bool directoryRange(const ResourceHeader& header, int32_t* start, int32_t* end);
bool tableRange(const ResourceHeader& header, const DirectoryEntry& entry, int32_t* start,
                int32_t* end);

// The entry of table `tableNumber`; of two with the same number the later one wins.
// nullptr when none matches.
const DirectoryEntry* findDirectoryEntry(const std::vector<DirectoryEntry>& directory,
                                         int32_t tableNumber);
