// The language codes that name the text resource files.
#include "text/languages.h"

#include <cctype>

namespace {
const char* const kCodes[kLastLanguage + 1] = {nullptr, "En", "Zh", "Fr", "De",
                                               "Es",    "Nl", "Pt", "Ja", "Ru"};
// The suite's Chinese is the simplified script, its Portuguese Brazilian.
const char* const kQtLocales[kLastLanguage + 1] = {nullptr, nullptr, "zh_CN", "fr", "de",
                                                   "es",    "nl",    "pt_BR", "ja", "ru"};
} // namespace

const char* languageCode(int language)
{
    if (language < 1 || language > kLastLanguage)
        return nullptr;
    return kCodes[language];
}

int languageByCode(const char* code)
{
    if (code == nullptr || code[0] == 0 || code[1] == 0 || code[2] != 0)
        return 0;
    for (int language = 1; language <= kLastLanguage; ++language) {
        const char* known = kCodes[language];
        if (std::toupper(static_cast<unsigned char>(code[0])) == known[0] &&
            std::tolower(static_cast<unsigned char>(code[1])) == known[1])
            return language;
    }
    return 0;
}

const char* qtLocaleName(int language)
{
    if (language < 1 || language > kLastLanguage)
        return nullptr;
    return kQtLocales[language];
}
