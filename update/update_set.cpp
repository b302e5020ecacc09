// The check of a whole update set before its first byte: every file readable, digested and
// fitting its place on every calculator.
#include "update/update_set.h"

#include "device/transfer.h"
#include "update/engine_text.h"

#include <algorithm>

namespace {

UpdateProblem digestProblem(const QString& fileName, int result)
{
    switch (result) {
    case kResultSourceOpen:
        return {ProblemText::CannotOpen, {fileName}, {}};
    case kResultSourceRead:
        return {ProblemText::CannotReadToEnd, {fileName}, {}};
    case kResultNoMemory:
        return {ProblemText::NoMemoryToRead, {fileName}, {}};
    default:
        return {ProblemText::CannotRead, {fileName, QString::number(result)}, {}};
    }
}

// The engine takes the whole path: one with a NUL in it would name another file, and is none.
bool enginePath(const QString& path, String16* source)
{
    if (path.isEmpty() || path.contains(QChar(0)))
        return false;
    *source = toString16(path);
    return true;
}

int digestFile(const QString& path, SourceDigest* digest, const std::atomic<bool>* stop)
{
    String16 source;
    return enginePath(path, &source) ? DigestSourceFile(source.c_str(), digest, stop)
                                     : kResultSourceOpen;
}

// The file's size now, 0 when it cannot be opened (or is empty).
std::int64_t sourceSize(const QString& path)
{
    String16 source;
    return enginePath(path, &source) ? GetSourceSize(source.c_str()) : 0;
}

UpdateSetCheck refusal(int index, int result, const UpdateProblem& problem)
{
    UpdateSetCheck check;
    check.result = result;
    check.refused = index;
    check.reason = describeProblem(problem);
    check.problem = problem;
    return check;
}

} // namespace

UpdateProblem placeProblemOf(const UpdateSetEntry& entry, std::int64_t size,
                             const QVector<std::int64_t>& diskSizes)
{
    // A place ends where the next image begins, and never past the end of any disk.
    std::int64_t end = entry.placeEnd;
    for (std::int64_t diskSize : diskSizes) {
        if (diskSize >= 0 && (end < 0 || diskSize < end))
            end = diskSize;
    }
    if (entry.diskOffset >= 0 && (end < 0 || size <= end - entry.diskOffset))
        return {};
    const std::int64_t room =
        entry.diskOffset >= 0 ? std::max<std::int64_t>(end - entry.diskOffset, 0) : 0;
    return {ProblemText::DoesNotFit,
            {entry.fileName, QString::number(size), QString::number(room)},
            {}};
}

UpdateSetCheck checkUpdateSet(const QVector<UpdateSetEntry>& set,
                              const QVector<std::int64_t>& diskSizes, const std::atomic<bool>* stop)
{
    // Sizes first, which cost nothing: a file far too large for its place (a sparse image of
    // many GiB) is refused before it is read whole. A file that cannot be opened is left to its
    // digest, which names the fault.
    for (int i = 0; i < set.size(); ++i) {
        const std::int64_t size = sourceSize(set[i].path);
        const UpdateProblem problem =
            size > 0 ? placeProblemOf(set[i], size, diskSizes) : UpdateProblem();
        if (!problem.isNone())
            return refusal(i, kResultOutsideDisk, problem);
    }
    QVector<SourceDigest> digests(set.size());
    for (int i = 0; i < set.size(); ++i) {
        const int result = digestFile(set[i].path, &digests[i], stop);
        if (result == kResultStopped) {
            UpdateSetCheck check;
            check.result = result;
            check.refused = i;
            return check;
        }
        if (result != kResultOk)
            return refusal(i, result, digestProblem(set[i].fileName, result));
    }
    for (int i = 0; i < set.size(); ++i) {
        const UpdateProblem problem = placeProblemOf(set[i], digests[i].size, diskSizes);
        if (!problem.isNone())
            return refusal(i, kResultOutsideDisk, problem);
    }
    UpdateSetCheck check;
    check.digests = digests;
    return check;
}

QVector<std::int64_t> calculatorDiskSizes(const WChar* vendorId, const WChar* productId)
{
    std::int64_t sizes[kMaxDisks];
    const int found = GetCalculatorDiskSizes(vendorId, productId, sizes, kMaxDisks);
    return QVector<std::int64_t>(sizes, sizes + std::max(found, 0));
}
