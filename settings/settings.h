// The suite's identity and stored settings, the system locale's language and the file prefixes
// beside the program.
#pragma once

#include <QString>

// The suite's identity. The domain is a placeholder under the reserved ".example" name.
constexpr char kOrganizationName[] = "KZ";
constexpr char kOrganizationDomain[] = "kz.example";
constexpr char kApplicationName[] = "Quillon";

// What the suite's per-user settings say; the updater only ever reads them.
struct StoredSettings {
    int language = 0;   // "Language", or the system's language when none is stored
    QString workFolder; // "WorkFolder" with "/" separators, or the documents folder + "/Quillon"
};

// Points the "icons" and "resource" prefixes at the folders of those names beside the program.
void registerFilePrefixes();

// Sets the suite's identity and reads its two settings.
StoredSettings loadSettings();

// The language number (1 to 8) of the system locale; 1 when the locale is none of them.
int systemLanguage();
// The same for a locale name such as "pt_BR": the part before its last underscore decides.
int languageOfLocaleName(const QString& localeName);
