// Parsing a text resource file's header and directory, and the byte ranges of its tree, directory
// and tables.
#include "text/resource_format.h"

#include <limits>

namespace {

bool rangeFrom(int64_t start, int64_t size, int32_t* rangeStart, int32_t* rangeEnd)
{
    const int64_t end = start + size;
    if (start < 0 || size < 0 || end > std::numeric_limits<int32_t>::max())
        return false;
    *rangeStart = static_cast<int32_t>(start);
    *rangeEnd = static_cast<int32_t>(end);
    return true;
}

} // namespace

int parseResourceHeader(const uint8_t* bytes, int32_t count, ResourceHeader* header)
{
    if (count < kHeaderSize)
        return kHeaderShort;
    ResourceHeader h;
    h.magic = LoadLe32(bytes + kHeaderMagicAt);
    h.formatId = LoadLe32(bytes + kHeaderFormatIdAt);
    h.formatLevel = LoadLe32(bytes + kHeaderLevelAt);
    for (int slot = 0; slot < kLanguageSlots; ++slot)
        h.languages[slot] = int32_t(LoadLe32(bytes + kHeaderLanguagesAt + 4 * slot));
    h.treeOffset = int32_t(LoadLe32(bytes + kHeaderTreeOffsetAt));
    h.treeSize = int32_t(LoadLe32(bytes + kHeaderTreeSizeAt));
    h.dirCount = int32_t(LoadLe32(bytes + kHeaderDirCountAt));
    h.dirOffset = int32_t(LoadLe32(bytes + kHeaderDirOffsetAt));
    h.dataBase = int32_t(LoadLe32(bytes + kHeaderDataBaseAt));
    *header = h;
    if (h.magic != kResourceMagic)
        return kHeaderBadMagic;
    if (h.formatId != kResourceFormatId && h.formatId != kResourceFormatIdAlt)
        return kHeaderBadFormat;
    if (h.formatLevel < kResourceMinLevel)
        return kHeaderLevelTooLow;
    return kHeaderOk;
}

void completeLanguageList(int32_t languages[kLanguageSlots])
{
    for (int slot = 0; slot < kLanguageSlots; ++slot) {
        if (languages[slot] == 1)
            return;
        if (languages[slot] == 0) {
            languages[slot] = 1;
            return;
        }
    }
}

std::vector<DirectoryEntry> parseDirectory(const uint8_t* bytes, int32_t count)
{
    std::vector<DirectoryEntry> directory;
    if (count < kDirectoryEntrySize)
        return directory;
    directory.resize(size_t(count / kDirectoryEntrySize));
    for (size_t i = 0; i < directory.size(); ++i) {
        const uint8_t* at = bytes + i * kDirectoryEntrySize;
        const uint32_t first = LoadLe32(at);
        directory[i].tableNumber = int32_t(first & 0x7FFFFF);
        directory[i].lastIndex = int32_t(first >> 23);
        directory[i].tableOffset = int32_t(LoadLe32(at + 4));
        directory[i].tableSize = int32_t(LoadLe32(at + 8) & 0x7FFFFFFF);
    }
    return directory;
}

bool treeRange(const ResourceHeader& header, int32_t* start, int32_t* end)
{
    return rangeFrom(header.treeOffset, header.treeSize, start, end);
}

bool directoryRange(const ResourceHeader& header, int32_t* start, int32_t* end)
{
    if (header.dirCount <= 0)
        return false;
    return rangeFrom(header.dirOffset, int64_t(header.dirCount) * kDirectoryEntrySize, start, end);
}

bool tableRange(const ResourceHeader& header, const DirectoryEntry& entry, int32_t* start,
                int32_t* end)
{
    // Only the sum places the table: either part may be negative when the other makes up for
    // it. Summed in 64 bits, so that no pair of offsets can wrap into the file.
    return rangeFrom(int64_t(header.dataBase) + entry.tableOffset, entry.tableSize, start, end);
}

const DirectoryEntry* findDirectoryEntry(const std::vector<DirectoryEntry>& directory,
                                         int32_t tableNumber)
{
    for (size_t i = directory.size(); i-- > 0;) {
        if (directory[i].tableNumber == tableNumber)
            return &directory[i];
    }
    return nullptr;
}
