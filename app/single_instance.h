#pragma once

class QSharedMemory;

// The key of the segment whose existence says that a copy of the updater runs.
constexpr char kSingleInstanceKey[] = "VORMEX";

// Creates the one-byte segment of `segment`'s key and holds it as long as `segment` lives.
// False when another running copy holds it. A segment left behind by a copy that crashed
// (System V keeps it after its owner is gone) is reclaimed first, so that it cannot keep every
// later start from running.
bool takeSingleInstance(QSharedMemory& segment);
