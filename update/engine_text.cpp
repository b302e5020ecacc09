// The engine's UTF-16 text and QString: the same 16-bit units, copied as they are.
#include "update/engine_text.h"

static_assert(sizeof(WChar) == sizeof(QChar), "the engine's text is UTF-16");

QString toQString(const WChar* text)
{
    // Not QString::fromUtf16 or fromWCharArray: they read a leading U+FEFF as a byte-order mark.
    return text == nullptr ? QString()
                           : QString(reinterpret_cast<const QChar*>(text), Length16(text));
}

String16 toString16(const QString& text)
{
    return String16(reinterpret_cast<const WChar*>(text.utf16()),
                    static_cast<std::size_t>(text.size()));
}
