#pragma once

#include "text/string_table.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// The most recently decoded tables, at most kTableCacheSize, keyed by language and table number.
constexpr int kTableCacheSize = 10;

// The text of `id` in `language` (0: the current language), falling back along the primary
// file's language list. Gives u"" for id 0 and nullptr when no language of the chain has a
// non-empty text. The string lives in the table cache until the next lookup: copy it at once.
const char16_t* lookupText(int id, int language);

// The table cache, position 0 first; for inspection only.
const std::vector<std::unique_ptr<StringTable>>& tableCache();

// Releases every cached table.
void releaseTableCache();

// Releases the cache and forgets every opened and failed file: the state of a fresh run.
void releaseTextStore();
