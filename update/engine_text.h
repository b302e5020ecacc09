// The engine's UTF-16 text (paths, serials, messages) as QString and back, for every layer
// above the engine.
#pragma once

#include "device/text16.h"

#include <QString>

// Unit for unit, both ways: a leading U+FEFF or U+FFFE is a character like any other, never
// taken for a byte-order mark (dropped, or swapping every unit after it), so that a serial or a
// path reads back as the engine gave it. nullptr gives an empty string.
QString toQString(const WChar* text);
String16 toString16(const QString& text);
