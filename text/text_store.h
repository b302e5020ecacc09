// The dialog's text store: its language and the catalog of files and tables its lookups keep.
#pragma once

#include "text/text_lookup.h"

#include <QString>

// The dialog's language holder and the owner of the catalog of opened files and cached tables,
// kept as long as the store. Its `language` stands for language 0 in its lookups; the dialog
// makes its store the current one (setCurrentTextStore) where it sets `g_dialog`.
class CTextStore {
public:
    CTextStore() = default;
    ~CTextStore();
    CTextStore(const CTextStore&) = delete;
    CTextStore& operator=(const CTextStore&) = delete;

    int language() const { return language_; }

    // Keeps 0 to 8 and gives true; any other number becomes 1 (English) and gives false.
    bool setLanguage(int number);

    // The stored text of `id` in `language` (0: the store's language); empty when none.
    QString text(int id, int language) const;

    // The dialog's translate: the text of `id` in the current language, or else the English
    // default decoded as UTF-8 (empty for a null default).
    QString textOrDefault(const char* englishDefault, int id) const;

    // What the lookups have kept so far; for inspection only.
    const TextCatalog& catalog() const { return catalog_; }

private:
    int language_ = 0;
    // Filled by lookups, which a const store still makes.
    mutable TextCatalog catalog_;
};

// Makes `store` the current one, the dialog's, whose language is the current language;
// nullptr for none.
void setCurrentTextStore(const CTextStore* store);

// The language of the current store; 0 when there is none.
int currentLanguage();
