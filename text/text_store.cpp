// The text store: lookups in its language, the English default, and the current store whose
// language is the current language.
#include "text/text_store.h"

#include "text/languages.h"
#include "text/text_lookup.h"

#include <string>

namespace {
const CTextStore* g_currentStore = nullptr;
}

CTextStore::~CTextStore()
{
    // A store that goes away must not leave lookups reading through a dangling pointer.
    if (g_currentStore == this)
        g_currentStore = nullptr;
}

bool CTextStore::setLanguage(int number)
{
    if (number < kLanguageNone || number > kLanguageJapanese) {
        language_ = kLanguageEnglish;
        return false;
    }
    language_ = number;
    return true;
}

QString CTextStore::text(int id, int language) const
{
    const char16_t* found =
        lookupText(&catalog_, id, language == kLanguageNone ? language_ : language);
    if (found == nullptr)
        return QString();
    // The units as they are: QString::fromUtf16 would take a leading U+FEFF or U+FFFE for a
    // byte-order mark, dropping it or swapping every unit after it.
    const auto length = int(std::char_traits<char16_t>::length(found));
    return QString(reinterpret_cast<const QChar*>(found), length);
}

QString CTextStore::textOrDefault(const char* englishDefault, int id) const
{
    const QString found = text(id, language_);
    return found.isEmpty() ? QString::fromUtf8(englishDefault) : found;
}

void setCurrentTextStore(const CTextStore* store)
{
    g_currentStore = store;
}

int currentLanguage()
{
    return g_currentStore == nullptr ? kLanguageNone : g_currentStore->language();
}
