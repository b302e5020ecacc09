// Looking a text up along the primary file's language chain: from the table cache, or from the
// table read and decoded into it.
#include "text/text_lookup.h"

#include "text/languages.h"
#include "text/resource_file.h"

#include <algorithm>
#include <utility>

namespace {

using TableCache = std::vector<std::unique_ptr<StringTable>>;

// Swaps, rather than shifts, the entry to the front, so the other entries keep their places;
// trimming then releases whatever stands at position kTableCacheSize.
const char16_t* moveToFront(TableCache* cache, size_t at, size_t index)
{
    std::swap((*cache)[0], (*cache)[at]);
    while (cache->size() > size_t(kTableCacheSize))
        cache->erase(cache->begin() + kTableCacheSize);
    const StringTable& front = *(*cache)[0];
    if (index >= front.strings.size() || front.strings[index][0] == 0)
        return nullptr;
    return front.strings[index];
}

int findCached(const TableCache& cache, int language, int32_t tableNumber)
{
    for (size_t i = cache.size(); i-- > 0;) {
        if (cache[i]->language == language && cache[i]->tableNumber == tableNumber)
            return int(i);
    }
    return -1;
}

// Reads and decodes a table into a new cache entry at the end; -1 when the table is missing,
// cannot be read whole or is damaged, none of which is cached.
int decodeIntoCache(TableCache* cache, ResourceFile* file, int32_t tableNumber)
{
    const DirectoryEntry* entry = findTable(file, tableNumber);
    std::vector<uint8_t> bytes;
    if (entry == nullptr || !readTable(*file, *entry, &bytes))
        return -1;
    const std::vector<uint8_t>* tree = nullptr;
    if (file->header.treeSize != 0 && (tree = codeTree(file)) == nullptr)
        return -1;
    auto table = std::make_unique<StringTable>();
    // Filed under the language the file was opened for, which is the one later lookups ask
    // for, even when the file's own slot 0 names another language.
    table->language = file->language;
    table->tableNumber = tableNumber;
    if (decodeStringTable(bytes.data(), int32_t(bytes.size()), tree, entry->lastIndex,
                          table.get()) == kDecodeDamaged)
        return -1;
    cache->push_back(std::move(table));
    return int(cache->size()) - 1;
}

const char16_t* lookupInLanguage(TextCatalog* catalog, int language, int32_t tableNumber,
                                 size_t index)
{
    ResourceFile* file = openResourceFile(&catalog->files, language);
    if (file == nullptr)
        return nullptr;
    TableCache* cache = &catalog->tableCache;
    int at = findCached(*cache, language, tableNumber);
    if (at >= 0) {
        if (index >= (*cache)[size_t(at)]->strings.size())
            return nullptr;
        return moveToFront(cache, size_t(at), index);
    }
    at = decodeIntoCache(cache, file, tableNumber);
    return at < 0 ? nullptr : moveToFront(cache, size_t(at), index);
}

} // namespace

const char16_t* lookupText(TextCatalog* catalog, int id, int language)
{
    if (id == 0)
        return u"";
    if (id < 0)
        return nullptr;
    ResourceFile* primary = openResourceFile(&catalog->files, language);
    if (primary == nullptr)
        primary = openResourceFile(&catalog->files, kLanguageEnglish);
    if (primary == nullptr)
        return nullptr;
    int32_t chain[kLanguageSlots];
    std::copy(primary->header.languages, primary->header.languages + kLanguageSlots, chain);
    for (const int32_t next : chain) {
        if (next == kLanguageNone)
            continue;
        const char16_t* text =
            lookupInLanguage(catalog, next, id >> 9, size_t(id & (kTableStrings - 1)));
        if (text != nullptr)
            return text;
    }
    return nullptr;
}
