// The engine's basic types: its UTF-16 text, the sizes of its path fields, and the host's handles.
#pragma once

#include <cstddef>
#include <cstdint>

// UTF-16 text as the platform spells it: the engine's paths, ids and messages.
#ifdef _WIN32
using WChar = wchar_t;
#else
using WChar = char16_t;
#endif

// Code units per device path slot, terminator included.
constexpr int kDiskPathChars = 260;

// Code units of a source path field, terminator included: the platform's longest path, so that
// every path fits whole.
#ifdef _WIN32
constexpr int kSourcePathChars = 261;
#else
constexpr int kSourcePathChars = 4096;
#endif

// An open disk or file of the host; the host says what it stands for.
using FileHandle = std::intptr_t;
constexpr FileHandle kInvalidHandle = -1;

// A thread started by the host; 0 when none could be started.
using ThreadHandle = std::intptr_t;
