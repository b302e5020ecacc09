// NUL-terminated UTF-16 strings of the engine, and their conversions to and from UTF-8.
#include "device/text16.h"

int Length16(const WChar* text)
{
    int n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

bool Copy16(WChar* destination, int capacity, const WChar* text)
{
    const int n = Length16(text);
    if (n >= capacity)
        return false;
    for (int i = 0; i <= n; ++i)
        destination[i] = text[i];
    return true;
}

const WChar* Find16(const WChar* text, const WChar* needle)
{
    if (needle[0] == 0)
        return text;
    for (; *text != 0; ++text) {
        int i = 0;
        while (needle[i] != 0 && text[i] == needle[i])
            ++i;
        if (needle[i] == 0)
            return text;
    }
    return nullptr;
}

static void AppendUtf8(std::string* out, char32_t c)
{
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (c >> 6)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (c >> 12)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (c >> 18)));
        out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool Utf16ToUtf8(const WChar* text, std::string* out)
{
    out->clear();
    for (int i = 0; text[i] != 0; ++i) {
        const char32_t unit = static_cast<char16_t>(text[i]);
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            const char32_t low = static_cast<char16_t>(text[i + 1]);
            if (low < 0xDC00 || low > 0xDFFF)
                return false;
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
            ++i;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return false;
        } else {
            AppendUtf8(out, unit);
        }
    }
    return true;
}

String16 Utf8ToUtf16(const std::string& text)
{
    String16 out;
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        int extra = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
        char32_t c = extra == 0   ? lead
                     : extra == 1 ? (lead & 0x1F)
                     : extra == 2 ? (lead & 0x0F)
                                  : (lead & 0x07);
        bool ok = extra >= 0 && i + extra < text.size();
        for (int k = 1; ok && k <= extra; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            ok = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        if (!ok || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out.push_back(
                static_cast<WChar>(0xFFFD)); // damaged byte: shown, never silently dropped
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            out.push_back(static_cast<WChar>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<WChar>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<WChar>(c));
        }
        i += extra + 1;
    }
    return out;
}

bool Equal16(const WChar* a, const WChar* b)
{
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}
