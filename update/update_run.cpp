#include "update/update_run.h"

#include "device/text16.h"
#include "update/engine_text.h"
#include "update/update_policy.h"

#include <algorithm>

namespace {

const WChar* const kVendorId = kCalculatorVendorId16.text;
const WChar* const kProductId = kCalculatorProductId16.text;

bool someHaveFile(const HistoryRecord& record, int file)
{
    for (const HistoryCalculator& calculator : record.calculators) {
        if (calculator.results.value(file, kNotWritten) == kResultOk)
            return true;
    }
    return false;
}

} // namespace

QString defaultUpdateFolder(const QString& workFolder, const CTextStore& texts)
{
    return workFolder + "/" + texts.textOrDefault("Firmware", 657);
}

UpdateStep stepAfterAttempt(const UpdateRunOptions& options, int file, int fileCount, int attempt,
                            int result, bool someHaveIt)
{
    const UpdateStep onward = file + 1 < fileCount ? UpdateStep::NextFile : UpdateStep::Done;
    if (result == kResultOk)
        return onward;
    if (attempt <= kRetries)
        return UpdateStep::Retry;
    return options.goOnPastBroken && someHaveIt ? onward : UpdateStep::GiveUp;
}

UpdateRun::UpdateRun(const UpdateRunOptions& options, const QVector<UpdateSetEntry>& set,
                     const QString& folder)
    : options_(options), set_(set)
{
    QVector<HistoryFile> files;
    for (const UpdateSetEntry& entry : set)
        files.append({entry.fileName, 0, QByteArray()});
    record_ = beginHistoryRecord(options.program, QUILLON_VERSION, folder, files);
}

QVector<DiskResult> presentCalculators(int capacity, bool open)
{
    QVector<DiskResult> disks(capacity);
    const int found = ListCalculatorDisks(kVendorId, kProductId, disks.data(), capacity, open);
    disks.resize(std::min(found, capacity));
    return disks;
}

QVector<DiskResult> UpdateRun::listCalculators(int capacity, bool open)
{
    const QVector<DiskResult> disks = presentCalculators(capacity, open);
    for (int i = 0; i < disks.size(); ++i)
        historyCalculator(&record_, disks[i]).passedOver = i >= kMaxDisks;
    return disks;
}

void UpdateRun::restrictTo(const QVector<DiskResult>& calculators, bool onlyWhereDue)
{
    restricted_ = true;
    onlyWhereDue_ = onlyWhereDue;
    only_ = calculators.mid(0, kMaxDisks);
    for (const DiskResult& disk : only_)
        historyCalculator(&record_, disk);
}

const DiskSelection* UpdateRun::selectionFor(int file)
{
    if (!restricted_)
        return nullptr;
    selection_.count = 0;
    for (const DiskResult& disk : only_) {
        const HistoryCalculator& row = historyCalculator(&record_, disk);
        bool due =
            !leftBehind_.contains(row.path) && row.results.value(file, kNotWritten) != kResultOk;
        for (int earlier = 0; earlier < file; ++earlier)
            due = due && row.results.value(earlier, kNotWritten) == kResultOk;
        if (due || !onlyWhereDue_)
            SelectDisk(&selection_, disk.devicePath);
    }
    return &selection_;
}

UpdateSetCheck UpdateRun::check(const std::atomic<bool>* stop, const QVector<SourceDigest>* sameAs)
{
    const QVector<DiskResult> present = restricted_ ? only_ : listCalculators(kMaxDisks);
    // The calculators there now are the update's, and the only ones it writes: one plugged in
    // later would get the later files alone. With none there (unplugged during the countdown),
    // the transfers search for the calculator as ever.
    if (!restricted_ && !present.isEmpty())
        restrictTo(present, false);
    QVector<std::int64_t> sizes;
    for (const DiskResult& disk : present)
        sizes.append(disk.size);
    UpdateSetCheck check = checkUpdateSet(set_, sizes, stop);
    for (int i = 0; sameAs != nullptr && check.result == kResultOk && i < set_.size(); ++i) {
        const SourceDigest& now = check.digests.value(i);
        const SourceDigest& before = sameAs->value(i);
        if (now.size != before.size ||
            !std::equal(std::begin(now.sha256), std::end(now.sha256), std::begin(before.sha256))) {
            check.result = kResultSourceRead;
            check.refused = i;
            check.problem = {ProblemText::ChangedSince, {set_[i].fileName}, {}};
            check.reason = describeProblem(check.problem);
            check.digests.clear();
        }
    }
    digests_ = check.digests;
    for (int i = 0; i < record_.files.size() && i < digests_.size(); ++i) {
        record_.files[i].size = digests_[i].size;
        record_.files[i].sha256 = QByteArray(reinterpret_cast<const char*>(digests_[i].sha256),
                                             sizeof digests_[i].sha256);
    }
    return check;
}

int UpdateRun::attempt(int file, ProgressCallback progress, MessageCallback message,
                       QVector<DiskResult>* disks, const std::function<void()>& readingBack)
{
    const UpdateSetEntry& entry = set_.at(file);
    // The engine gets the whole path; one it cannot take (a NUL in it) fails with 105.
    if (entry.path.contains(QChar(0)))
        return kResultSourceOpen;
    const String16 source = toString16(entry.path);
    // A file of a checked set is written exactly as it was read then.
    const SourceDigest* expected = file < digests_.size() ? &digests_[file] : nullptr;
    const DiskSelection* only = selectionFor(file);
    // Restricted, with none of its calculators due for this file: nothing is there to write.
    if (only != nullptr && only->count == 0)
        return kResultNoDevice;
    int result = RunCheckedTransfer(kVendorId, kProductId, source.c_str(), entry.diskOffset,
                                    expected, progress, message, only);
    DiskResult written[kMaxDisks];
    const int count = std::min(GetTransferResults(written, kMaxDisks), kMaxDisks);
    if (result == kResultOk && options_.verify && expected != nullptr) {
        // A calculator that took the file but is missing from the read-back was not checked:
        // no success either (104, as for one gone).
        if (readingBack)
            readingBack();
        DiskResult checked[kMaxDisks];
        const int read =
            std::min(VerifyCalculatorDisks(kVendorId, kProductId, source.c_str(), entry.diskOffset,
                                           *expected, checked, kMaxDisks, only),
                     kMaxDisks);
        result = read > 0 ? kResultOk : kResultNoDevice;
        for (int i = 0; i < count; ++i) {
            if (written[i].result == kResultOk) {
                written[i].result = kResultNoDevice;
                for (int j = 0; j < read; ++j) {
                    if (Equal16(written[i].devicePath, checked[j].devicePath))
                        written[i].result = checked[j].result;
                }
            }
            if (result == kResultOk)
                result = written[i].result;
        }
    }
    noteTransferResults(&record_, file, written, count);
    if (disks != nullptr)
        *disks = QVector<DiskResult>(written, written + count);
    // Every calculator of the update must hold the file, and those before it: one unplugged
    // meanwhile (the run wrote only those still there) makes this attempt no success.
    if (result == kResultOk && !filesWrittenToAll(record_, file, leftBehind_))
        return kResultNoDevice;
    return result;
}

UpdateStep UpdateRun::stepAfter(int file, int attempt, int result)
{
    const UpdateStep step =
        stepAfterAttempt(options_, file, set_.size(), attempt, result, someHaveFile(record_, file));
    if (result != kResultOk && step != UpdateStep::Retry && step != UpdateStep::GiveUp) {
        for (const HistoryCalculator& calculator : record_.calculators) {
            if (calculator.results.value(file, kNotWritten) != kResultOk)
                leftBehind_.insert(calculator.path);
        }
    }
    return step;
}

int UpdateRun::finish()
{
    DiskResult disks[kMaxDisks];
    DiskSelection every;
    for (const DiskResult& disk : only_)
        SelectDisk(&every, disk.devicePath);
    const int reached = FinishCalculatorDisks(kVendorId, kProductId, disks, kMaxDisks,
                                              restricted_ ? &every : nullptr);
    noteFinishResults(&record_, disks, std::min(reached, kMaxDisks));
    return finishFailure(record_);
}
