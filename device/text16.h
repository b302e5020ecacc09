// Small helpers for the engine's NUL-terminated UTF-16 strings.
#pragma once

#include "device/types.h"

#include <string>

using String16 = std::basic_string<WChar>;

int Length16(const WChar* text);
// Copies text with its terminator when it fits capacity units; otherwise copies nothing and
// gives false: a cut path would name another disk or file.
bool Copy16(WChar* destination, int capacity, const WChar* text);
// The first place where needle occurs in text, exactly and case-sensitively; nullptr if none.
const WChar* Find16(const WChar* text, const WChar* needle);
// Whether both texts hold the same units.
bool Equal16(const WChar* a, const WChar* b);

// Conversions at the host's edge. Utf16ToUtf8 gives false for text that is not valid UTF-16
// (a lone surrogate), so that no other name is ever opened in its place.
bool Utf16ToUtf8(const WChar* text, std::string* out);
String16 Utf8ToUtf16(const std::string& text);
