// Reading the source form of a text resource file: directives and numbered texts.
#include "tools/kzres/source_text.h"

#include "text/languages.h"

#include <QList>
#include <QRegularExpression>
#include <QStringList>
#include <QTextCodec>

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

QString trimmedBlanks(const QString& text)
{
    int start = 0;
    int end = text.size();
    while (start < end && isBlank(text[start]))
        ++start;
    while (end > start && isBlank(text[end - 1]))
        --end;
    return text.mid(start, end - start);
}

// A language written as a number (0 to 9) or as its code ("Fr").
bool parseLanguage(const QString& word, int* language)
{
    bool isNumber = false;
    const int number = word.toInt(&isNumber);
    if (isNumber) {
        *language = number;
        return number >= 0 && number <= kLastLanguage;
    }
    *language = languageByCode(word.toLatin1().constData());
    return *language != 0;
}

bool parseDirective(const QStringList& words, ResourceTexts* texts, QString* error)
{
    const QString& name = words[0];
    if (name == QLatin1String("language")) {
        if (words.size() != 2 || !parseLanguage(words[1], &texts->language) ||
            texts->language == 0) {
            *error = QStringLiteral("'language' takes one language, 1 to 9 or its code");
            return false;
        }
        return true;
    }
    if (name == QLatin1String("fallbacks")) {
        if (words.size() < 2 || words.size() > 4) {
            *error = QStringLiteral("'fallbacks' takes one to three languages");
            return false;
        }
        for (int slot = 1; slot < words.size(); ++slot) {
            int language = 0;
            if (!parseLanguage(words[slot], &language)) {
                *error = QStringLiteral("'%1' is no language (0 to 9 or a code)").arg(words[slot]);
                return false;
            }
            texts->fallbacks[slot - 1] = language;
        }
        return true;
    }
    *error = QStringLiteral("expected an id, 'language' or 'fallbacks'");
    return false;
}

bool parseTextLine(const QString& line, ResourceTexts* texts, QString* error)
{
    int digits = 0;
    while (digits < line.size() && line[digits].isDigit() && line[digits].unicode() < 128)
        ++digits;
    bool isNumber = false;
    const int id = line.left(digits).toInt(&isNumber);
    if (!isNumber || id <= 0) {
        *error = QStringLiteral("the id must be a number from 1 to 2147483647");
        return false;
    }
    if (digits < line.size() && !isBlank(line[digits])) {
        *error = QStringLiteral("the id must be followed by a space or a tab");
        return false;
    }
    if (texts->texts.count(id) != 0) {
        *error = QStringLiteral("id %1 is given twice").arg(id);
        return false;
    }
    return unescapeText(trimmedBlanks(line.mid(digits)), &texts->texts[id], error);
}

bool parseLine(const QString& line, ResourceTexts* texts, QString* error)
{
    const QString content = trimmedBlanks(line);
    if (content.isEmpty() || content.startsWith(QLatin1Char('#')))
        return true;
    if (content[0].isDigit())
        return parseTextLine(content, texts, error);
    return parseDirective(content.split(QRegularExpression(QStringLiteral("[ \t]+"))), texts,
                          error);
}

bool decodeUtf8(const QByteArray& bytes, QString* line)
{
    QTextCodec::ConverterState state;
    *line = QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0; // nor a sequence cut off
}

// Reads the "{hex}" of a \u escape that starts at text[*at]; *at ends on its closing brace.
bool unescapeCodePoint(const QString& text, int* at, std::u16string* out)
{
    const int close = text.indexOf(QLatin1Char('}'), *at);
    if (*at >= text.size() || text[*at] != QLatin1Char('{') || close < 0)
        return false;
    bool isHex = false;
    const uint code = text.mid(*at + 1, close - *at - 1).toUInt(&isHex, 16);
    if (!isHex || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return false;
    // Split by hand: QString::fromUcs4 would take U+FEFF for a byte-order mark and drop it.
    if (QChar::requiresSurrogates(code)) {
        out->push_back(QChar::highSurrogate(code));
        out->push_back(QChar::lowSurrogate(code));
    } else {
        out->push_back(char16_t(code));
    }
    *at = close;
    return true;
}

// The unit that a one-letter escape stands for; 0 for an unknown letter.
char16_t simpleEscape(QChar letter)
{
    switch (letter.unicode()) {
    case '\\':
        return u'\\';
    case 'n':
        return u'\n';
    case 'r':
        return u'\r';
    case 't':
        return u'\t';
    case 's':
        return u' ';
    default:
        return 0;
    }
}

// Reads the escape whose backslash stands at written[*at]; *at ends on its last character.
bool unescapeOne(const QString& written, int* at, std::u16string* text)
{
    if (++*at >= written.size())
        return false;
    const char16_t simple = simpleEscape(written[*at]);
    if (simple != 0) {
        text->push_back(simple);
        return true;
    }
    if (written[*at] != QLatin1Char('u'))
        return false;
    ++*at;
    return unescapeCodePoint(written, at, text);
}

} // namespace

bool unescapeText(const QString& written, std::u16string* text, QString* error)
{
    text->clear();
    for (int at = 0; at < written.size(); ++at) {
        const QChar c = written[at];
        if (c.unicode() == 0) {
            *error = QStringLiteral("a text cannot hold the character 0");
            return false;
        }
        if (c != QLatin1Char('\\')) {
            text->push_back(c.unicode());
            continue;
        }
        if (!unescapeOne(written, &at, text)) {
            *error = QStringLiteral("unknown escape; use \\n \\r \\t \\s \\\\ or \\u{hex}");
            return false;
        }
    }
    return true;
}

QString escapeText(const std::u16string& text)
{
    QString out;
    const size_t size = text.size();
    for (size_t i = 0; i < size; ++i) {
        const char16_t c = text[i];
        const bool highThenLow =
            QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(text[i + 1]);
        if (highThenLow) {
            out += QChar(c);
            out += QChar(text[++i]);
        } else if (c == u'\\') {
            out += QStringLiteral("\\\\");
        } else if (c == u'\n') {
            out += QStringLiteral("\\n");
        } else if (c == u'\r') {
            out += QStringLiteral("\\r");
        } else if (c == u'\t') {
            out += QStringLiteral("\\t");
        } else if (c == u' ' && (i == 0 || i + 1 == size)) {
            out += QStringLiteral("\\s"); // blanks at either end would be trimmed away
        } else if (c < 0x20 || c == 0x7F || QChar::isSurrogate(c)) {
            out += QStringLiteral("\\u{%1}").arg(uint(c), 0, 16);
        } else {
            out += QChar(c);
        }
    }
    return out;
}

bool parseSourceText(const QByteArray& source, ResourceTexts* texts, QString* error)
{
    *texts = ResourceTexts();
    QList<QByteArray> lines = source.split('\n');
    if (!lines.isEmpty() && lines[0].startsWith("\xEF\xBB\xBF"))
        lines[0].remove(0, 3);
    for (int i = 0; i < lines.size(); ++i) {
        QByteArray bytes = lines[i];
        if (bytes.endsWith('\r'))
            bytes.chop(1); // a line break written as CR LF
        QString line;
        QString problem = QStringLiteral("the line is not valid UTF-8");
        if (!decodeUtf8(bytes, &line) || !parseLine(line, texts, &problem)) {
            *error = QStringLiteral("line %1: %2").arg(i + 1).arg(problem);
            return false;
        }
    }
    if (texts->language == 0) {
        *error = QStringLiteral("the source names no language (a line 'language Fr', say)");
        return false;
    }
    return true;
}
