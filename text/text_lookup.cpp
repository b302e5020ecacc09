#include "text/text_lookup.h"

#include "text/languages.h"
#include "text/resource_file.h"
#include "text/text_store.h"

#include <algorithm>
#include <utility>

namespace {

std::vector<std::unique_ptr<StringTable>> g_tableCache;

// Swaps, rather than shifts, the entry to the front, so the other entries keep their places;
// trimming then releases whatever stands at position kTableCacheSize.
const char16_t* moveToFront(size_t at, size_t index)
{
    std::swap(g_tableCache[0], g_tableCache[at]);
    while (g_tableCache.size() > size_t(kTableCacheSize))
        g_tableCache.erase(g_tableCache.begin() + kTableCacheSize);
    const StringTable& front = *g_tableCache[0];
    if (index >= front.strings.size() || front.strings[index][0] == 0)
        return nullptr;
    return front.strings[index];
}

int findCached(int language, int32_t tableNumber)
{
    for (size_t i = g_tableCache.size(); i-- > 0;) {
        if (g_tableCache[i]->language == language && g_tableCache[i]->tableNumber == tableNumber)
            return int(i);
    }
    return -1;
}

// Reads and decodes a table into a new cache entry at the end; -1 when the table is missing,
// cannot be read whole or is damaged, none of which is cached.
int decodeIntoCache(ResourceFile* file, int32_t tableNumber)
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
    g_tableCache.push_back(std::move(table));
    return int(g_tableCache.size()) - 1;
}

const char16_t* lookupInLanguage(int language, int32_t tableNumber, size_t index)
{
    ResourceFile* file = openResourceFile(language);
    if (file == nullptr)
        return nullptr;
    int at = findCached(language, tableNumber);
    if (at >= 0) {
        if (index >= g_tableCache[size_t(at)]->strings.size())
            return nullptr;
        return moveToFront(size_t(at), index);
    }
    at = decodeIntoCache(file, tableNumber);
    return at < 0 ? nullptr : moveToFront(size_t(at), index);
}

} // namespace

const char16_t* lookupText(int id, int language)
{
    if (id == 0)
        return u"";
    if (id < 0)
        return nullptr;
    if (language == kLanguageNone)
        language = currentLanguage();
    ResourceFile* primary = openResourceFile(language);
    if (primary == nullptr)
        primary = openResourceFile(kLanguageEnglish);
    if (primary == nullptr)
        return nullptr;
    int32_t chain[kLanguageSlots];
    std::copy(primary->header.languages, primary->header.languages + kLanguageSlots, chain);
    for (const int32_t next : chain) {
        if (next == kLanguageNone)
            continue;
        const char16_t* text = lookupInLanguage(next, id >> 9, size_t(id & (kTableStrings - 1)));
        if (text != nullptr)
            return text;
    }
    return nullptr;
}

const std::vector<std::unique_ptr<StringTable>>& tableCache()
{
    return g_tableCache;
}

void releaseTableCache()
{
    g_tableCache.clear();
}

void releaseTextStore()
{
    releaseTableCache();
    releaseResourceFiles();
}
