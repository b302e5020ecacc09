#pragma once

#include "device/engine.h"
#include "update/update_problem.h"

#include <QString>
#include <QVector>

#include <cstdint>

// One file of an update, as the check before the first transfer takes it.
struct UpdateSetEntry {
    QString path;     // as the engine opens it
    QString fileName; // as the user knows it: the reason of a refusal names it
    std::int64_t diskOffset = 0;
    std::int64_t placeEnd = -1; // first byte past the file's place on the disk; -1: the disk's end
};

// The outcome of checking a whole set before any of it is written.
struct UpdateSetCheck {
    int result = kResultOk;        // 0, or the refused file's code: 105, 109, 110 or 111
    int refused = -1;              // index in the set of the refused file; -1 when none is
    QString reason;                // one line naming the refused file and why; empty on success
    UpdateProblem problem;         // the same, for a front end to word
    QVector<SourceDigest> digests; // on success, one per file in set order, for the transfers
};

// Weighs every file of the set by its size against its place and every disk first (`diskSizes`,
// -1 for a disk whose size is unknown, which refuses nothing): nothing is read when one does not
// fit. Then reads each whole (its size and digest) and weighs it again by the size read. Writes
// nothing; the first file that fails is the one refused.
// Once `stop` (when given) is true, the check ends before its next chunk with -3, no reason.
UpdateSetCheck checkUpdateSet(const QVector<UpdateSetEntry>& set,
                              const QVector<std::int64_t>& diskSizes,
                              const std::atomic<bool>* stop = nullptr);

// Why a file of `size` bytes does not fit its place on every disk ("ZENTA_OS.ROM: 2097152 bytes,
// but its place on the calculator holds 1048576"); none when it does.
UpdateProblem placeProblemOf(const UpdateSetEntry& entry, std::int64_t size,
                             const QVector<std::int64_t>& diskSizes);

// The sizes of the calculator disks present now, in disk-table order; -1 for one whose size
// cannot be read. Empty when none is present.
QVector<std::int64_t> calculatorDiskSizes(const WChar* vendorId, const WChar* productId);
