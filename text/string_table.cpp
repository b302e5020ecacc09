// Decoding a string table: prefix-coded bits followed through the file's code tree, or plain
// UTF-16 units.
#include "text/string_table.h"

#include "text/resource_format.h"

namespace {

constexpr char16_t kCarriageReturn = 13;

enum class Step { Node, Leaf, Outside };

// Follows one bit from the node at `at`: to another node (`*at` moves there) or to a leaf
// (`*symbol`). Outside when the node does not lie whole inside the tree; a reference past the
// tree's end is caught when the next bit reaches it.
Step followBit(const std::vector<uint8_t>& tree, int64_t* at, int bit, char16_t* symbol)
{
    const int64_t size = int64_t(tree.size());
    const int64_t node = *at;
    if (node >= size)
        return Step::Outside;
    const uint8_t kind = tree[size_t(node)];
    const int64_t nodeSize = kind == 3 ? 5 : 3;
    if (size - node < nodeSize)
        return Step::Outside;
    const uint16_t value = LoadLe16(&tree[size_t(node) + 1]);
    const int64_t follows = node + nodeSize;
    if (kind == 0) {
        *at = bit ? follows + value : follows;
        return Step::Node;
    }
    if ((kind == 1 && bit == 0) || (kind == 2 && bit == 1)) {
        *at = follows;
        return Step::Node;
    }
    *symbol = kind == 3 && bit == 1 ? LoadLe16(&tree[size_t(node) + 3]) : value;
    return Step::Leaf;
}

// Points strings 0 to finished - 1 of `table->units` from its start, terminator to terminator.
void pointAtStrings(int32_t finished, StringTable* table)
{
    table->strings.resize(size_t(finished));
    size_t at = 0;
    for (int32_t k = 0; k < finished; ++k) {
        table->strings[size_t(k)] = &table->units[at];
        while (table->units[at] != 0)
            ++at;
        ++at;
    }
}

int decodeCoded(const uint8_t* bytes, int32_t count, const std::vector<uint8_t>& tree,
                StringTable* table)
{
    std::vector<char16_t> out(kDecodeGrowth + 1); // one unit always spare for the last 0
    size_t used = 0;
    size_t finishedUnits = 0;
    int32_t finished = 0;
    int64_t node = 0;
    for (int32_t next = 0; next < count;) {
        const uint8_t byte = bytes[next++];
        for (int bit = 0; bit < 8; ++bit) {
            char16_t symbol = 0;
            const Step step = followBit(tree, &node, (byte >> bit) & 1, &symbol);
            if (step == Step::Outside)
                return kDecodeDamaged;
            if (step == Step::Node)
                continue;
            node = 0;
            if (symbol == kCarriageReturn)
                continue;
            if (used == out.size() - 1)
                out.resize(out.size() + kDecodeGrowth);
            out[used++] = symbol;
            if (symbol != 0)
                continue;
            ++finished;
            finishedUnits = used;
            ++next; // the rest of this byte is padding, and the byte after it is skipped
            break;
        }
    }
    const int result = used > finishedUnits || node != 0 ? kDecodeCutShort : kDecodeOk;
    if (finished > 0) {
        out.resize(finishedUnits);
        table->units = std::move(out);
        pointAtStrings(finished, table);
    }
    return result;
}

int decodePlain(const uint8_t* bytes, int32_t count, int32_t lastIndex, StringTable* table)
{
    const int32_t unitCount = count / 2; // an odd last byte is left out
    std::vector<char16_t>& units = table->units;
    units.resize(size_t(unitCount) + 1);
    for (int32_t i = 0; i < unitCount; ++i)
        units[size_t(i)] = LoadLe16(bytes + 2 * i);
    units[size_t(unitCount)] = 0;
    // The added 0 ends a last string cut short and gives one empty string when the table
    // holds fewer strings than its directory entry says.
    int32_t start = 0;
    while (start <= unitCount && int32_t(table->strings.size()) <= lastIndex) {
        table->strings.push_back(&units[size_t(start)]);
        while (units[size_t(start)] != 0)
            ++start;
        ++start;
    }
    if (table->strings.empty())
        units.clear();
    return kDecodeOk;
}

} // namespace

int decodeStringTable(const uint8_t* bytes, int32_t count, const std::vector<uint8_t>* tree,
                      int32_t lastIndex, StringTable* table)
{
    if (count < 0)
        count = 0;
    if (tree != nullptr)
        return decodeCoded(bytes, count, *tree, table);
    return decodePlain(bytes, count, lastIndex, table);
}
