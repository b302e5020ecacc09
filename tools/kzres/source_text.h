// The source form of a text resource file: reading it, and the escapes of its texts.
#pragma once

#include <QString>
#include <cstdint>
#include <map>
#include <string>

// The texts of one language as a translator writes them (format: docs/kzres.md).
struct ResourceTexts {
    int language = 0;
    int32_t fallbacks[3] = {}; // 0: an empty slot
    std::map<int32_t, std::u16string> texts;
};

// Reads a UTF-8 source. Gives false and a message naming the line when the source is wrong.
bool parseSourceText(const QByteArray& source, ResourceTexts* texts, QString* error);

// Reads the text part of a line, escapes and all; false and a message when it is wrong.
bool unescapeText(const QString& written, std::u16string* text, QString* error);

// Writes a text the way parseSourceText reads it back.
QString escapeText(const std::u16string& text);
