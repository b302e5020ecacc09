#pragma once

#include <QString>

// The dialog's language holder. Its `language` decides every lookup made in language 0; the
// dialog makes its store the current one (setCurrentTextStore) where it sets `g_dialog`.
class CTextStore {
public:
    CTextStore() = default;
    ~CTextStore();
    CTextStore(const CTextStore&) = delete;
    CTextStore& operator=(const CTextStore&) = delete;

    int language() const { return language_; }

    // Keeps 0 to 8 and gives true; any other number becomes 1 (English) and gives false.
    bool setLanguage(int number);

    // The stored text of `id` in `language` (0: the current language); empty when none.
    QString text(int id, int language) const;

    // The dialog's translate: the text of `id` in the current language, or else the English
    // default decoded as UTF-8 (empty for a null default).
    QString textOrDefault(const char* englishDefault, int id) const;

private:
    int language_ = 0;
};

// Makes `store` the one whose language lookups in language 0 use; nullptr for none.
void setCurrentTextStore(const CTextStore* store);

// The language of the current store; 0 when there is none.
int currentLanguage();
