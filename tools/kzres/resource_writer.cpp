// Writing a text resource file: header, directory and tables, prefix-coded or plain.
#include "tools/kzres/resource_writer.h"

#include "text/resource_format.h"
#include "tools/kzres/little_endian.h"
#include "tools/kzres/prefix_code.h"

#include <limits>

namespace {

using Table = std::vector<std::u16string>; // string k is index k of the table

std::map<int32_t, Table> groupTables(const ResourceTexts& texts)
{
    std::map<int32_t, Table> tables;
    for (const auto& [id, text] : texts.texts) {
        Table& table = tables[id >> 9];
        const size_t index = size_t(id & (kTableStrings - 1));
        if (table.size() <= index)
            table.resize(index + 1); // the ids left out become empty texts
        table[index] = text;
    }
    return tables;
}

// Bits go into each byte from the least significant on. After a string's terminator the
// byte is closed and one more byte follows, which the decoder skips.
struct BitWriter {
    std::vector<uint8_t> bytes;
    uint8_t byte = 0;
    int used = 0;

    void put(uint8_t bit)
    {
        byte |= uint8_t(bit << used);
        if (++used == 8)
            flush();
    }
    void flush()
    {
        bytes.push_back(byte);
        byte = 0;
        used = 0;
    }
    void endString()
    {
        if (used > 0)
            flush();
        bytes.push_back(0);
    }
};

std::vector<uint8_t> codedTable(const Table& table, const PrefixCode& code)
{
    BitWriter writer;
    for (const std::u16string& text : table) {
        for (const char16_t unit : text) {
            for (const uint8_t bit : code.codes.at(unit))
                writer.put(bit);
        }
        for (const uint8_t bit : code.codes.at(0))
            writer.put(bit);
        writer.endString();
    }
    return writer.bytes;
}

std::vector<uint8_t> plainTable(const Table& table)
{
    std::vector<uint8_t> bytes;
    for (const std::u16string& text : table) {
        for (const char16_t unit : text)
            appendLe16(&bytes, unit);
        bytes.push_back(0);
        bytes.push_back(0);
    }
    return bytes;
}

std::map<char16_t, uint64_t> countUnits(const std::map<int32_t, Table>& tables)
{
    std::map<char16_t, uint64_t> counts;
    for (const auto& entry : tables) {
        for (const std::u16string& text : entry.second) {
            for (const char16_t unit : text)
                ++counts[unit];
            ++counts[0];
        }
    }
    if (counts.empty())
        counts[0] = 1; // a file without texts still gets a tree, and so stays coded
    return counts;
}

bool checkCodable(const ResourceTexts& texts, QString* error)
{
    for (const auto& [id, text] : texts.texts) {
        if (text.find(u'\r') != std::u16string::npos) {
            *error = QStringLiteral("text %1 holds a carriage return, which coded files drop; "
                                    "build with --plain or leave it out")
                         .arg(id);
            return false;
        }
    }
    return true;
}

std::vector<uint8_t> header(const ResourceTexts& texts, size_t treeSize, size_t tableCount)
{
    std::vector<uint8_t> bytes(kHeaderSize, 0);
    putLe32(&bytes, kHeaderMagicAt, kResourceMagic);
    putLe32(&bytes, kHeaderFormatIdAt, kResourceFormatId);
    putLe32(&bytes, kHeaderLevelAt, kResourceMinLevel);
    putLe32(&bytes, kHeaderLanguagesAt, uint32_t(texts.language));
    for (int slot = 1; slot < kLanguageSlots; ++slot)
        putLe32(&bytes, kHeaderLanguagesAt + 4 * size_t(slot), uint32_t(texts.fallbacks[slot - 1]));
    const size_t dirOffset = kHeaderSize + treeSize;
    putLe32(&bytes, kHeaderTreeOffsetAt, treeSize > 0 ? uint32_t(kHeaderSize) : 0);
    putLe32(&bytes, kHeaderTreeSizeAt, uint32_t(treeSize));
    putLe32(&bytes, kHeaderDirCountAt, uint32_t(tableCount));
    putLe32(&bytes, kHeaderDirOffsetAt, uint32_t(dirOffset));
    putLe32(&bytes, kHeaderDataBaseAt, uint32_t(dirOffset + tableCount * kDirectoryEntrySize));
    return bytes;
}

} // namespace

bool writeResource(const ResourceTexts& texts, bool coded, std::vector<uint8_t>* file,
                   QString* error)
{
    const std::map<int32_t, Table> tables = groupTables(texts);
    PrefixCode code;
    if (coded && (!checkCodable(texts, error) || !buildPrefixCode(countUnits(tables), &code))) {
        if (error->isEmpty())
            *error = QStringLiteral("too many distinct characters for a code tree; use --plain");
        return false;
    }
    std::vector<uint8_t> directory;
    std::vector<uint8_t> data;
    for (const auto& [number, table] : tables) {
        const std::vector<uint8_t> bytes = coded ? codedTable(table, code) : plainTable(table);
        appendLe32(&directory, uint32_t(number) | uint32_t(table.size() - 1) << 23);
        appendLe32(&directory, uint32_t(data.size()));
        appendLe32(&directory, uint32_t(bytes.size()));
        data.insert(data.end(), bytes.begin(), bytes.end());
    }
    *file = header(texts, code.tree.size(), tables.size());
    file->insert(file->end(), code.tree.begin(), code.tree.end());
    file->insert(file->end(), directory.begin(), directory.end());
    file->insert(file->end(), data.begin(), data.end());
    if (file->size() > size_t(std::numeric_limits<int32_t>::max())) {
        *error = QStringLiteral("the texts make a file larger than 2 GiB");
        return false;
    }
    return true;
}
