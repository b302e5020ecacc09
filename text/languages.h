// Language numbers, the codes that name their text resource files, and Qt's locales for them.
#pragma once

// Language numbers shared by the settings, the dialog and the text resource files.
constexpr int kLanguageNone = 0; // not chosen: lookups end up in English
constexpr int kLanguageEnglish = 1;
constexpr int kLanguageChinese = 2;
constexpr int kLanguageFrench = 3;
constexpr int kLanguageGerman = 4;
constexpr int kLanguageSpanish = 5;
constexpr int kLanguageDutch = 6;
constexpr int kLanguagePortuguese = 7;
constexpr int kLanguageJapanese = 8;
constexpr int kLanguageRussian = 9; // only ever a fallback named inside a file
constexpr int kLastLanguage = kLanguageRussian;

// The two-letter code that names a language's file ("Fr" for 3), or nullptr for a number
// without one, 0 among them.
const char* languageCode(int language);

// The number whose code is `code`, compared without regard to case; 0 when none is.
int languageByCode(const char* code);

// The locale under which Qt ships its own translations for a language ("de", "zh_CN"), or
// nullptr where Qt's own English stands: English, and no language chosen.
const char* qtLocaleName(int language);
