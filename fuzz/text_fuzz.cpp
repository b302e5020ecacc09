// libFuzzer target: arbitrary bytes as a text resource file, through the store's header,
// directory, code tree and table reads and the lookup along its chain; as a bare code tree
// and table through the decoder; and through kzres's dump, which reads damaged files too.

#include "text/resource_file.h"
#include "text/resource_format.h"
#include "text/string_table.h"
#include "text/text_lookup.h"
#include "tools/kzres/resource_dump.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

constexpr size_t kMaxTablesAsked = 16;

const QTemporaryDir& resourceFolder()
{
    static const QTemporaryDir folder;
    static const bool registered =
        (QDir::setSearchPaths(QStringLiteral("resource"), {folder.path()}), true);
    (void)registered;
    return folder;
}

void writeFrench(const uint8_t* data, size_t size)
{
    QFile file(resourceFolder().filePath(QStringLiteral("HelpFr.kzresource")));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(reinterpret_cast<const char*>(data), qint64(size));
}

// Asks for ids of the tables that the directory names, so that the lookups reach them.
void lookUpNamedTables(TextCatalog* catalog)
{
    lookupText(catalog, 2, 3);
    ResourceFile* file = openResourceFile(&catalog->files, 3);
    if (file == nullptr || !findTable(file, 0))
        return;
    for (size_t i = 0; i < file->directory.size() && i < kMaxTablesAsked; ++i) {
        const DirectoryEntry entry = file->directory[i];
        if (entry.tableNumber > INT32_MAX / kTableStrings)
            continue; // no id reaches it
        const int first = entry.tableNumber * kTableStrings;
        for (const int index : {0, 1, int(entry.lastIndex), kTableStrings - 1})
            lookupText(catalog, first + index, 3);
    }
}

// The first byte splits the rest into a code tree and a table.
void decodeDirectly(const uint8_t* data, size_t size)
{
    if (size < 1)
        return;
    const size_t treeSize = std::min<size_t>(data[0], size - 1);
    const std::vector<uint8_t> tree(data + 1, data + 1 + treeSize);
    const uint8_t* table = data + 1 + treeSize;
    const int32_t count = int32_t(size - 1 - treeSize);
    StringTable coded;
    decodeStringTable(table, count, &tree, 0, &coded);
    StringTable plain;
    decodeStringTable(table, count, nullptr, data[0] * 2, &plain);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    writeFrench(data, size);
    {
        TextCatalog catalog; // this input's file and tables only, gone before the next
        lookUpNamedTables(&catalog);
    }
    decodeDirectly(data, size);
    dumpResource(std::vector<uint8_t>(data, data + size));
    return 0;
}
