// The text lookup and what it keeps between calls: the files opened and the decoded tables.
#pragma once

#include "text/resource_file.h"
#include "text/string_table.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// The most recently decoded tables, at most kTableCacheSize, keyed by language and table number.
constexpr int kTableCacheSize = 10;

// Everything a lookup keeps between calls: the files opened (or found missing) and the table
// cache, position 0 first. Whoever owns it decides how long files and tables are kept.
struct TextCatalog {
    ResourceRegistry files;
    std::vector<std::unique_ptr<StringTable>> tableCache;
};

// The text of `id` in `language`, falling back along the primary file's language list; a
// language without a file (0 among them) has English's file for its primary. Gives u"" for
// id 0 and nullptr when no language of the chain has a non-empty text. The string lives in
// the catalog's table cache until the next lookup: copy it at once.
const char16_t* lookupText(TextCatalog* catalog, int id, int language);
