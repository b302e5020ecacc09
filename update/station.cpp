#include "update/station.h"

#include "update/engine_text.h"

#include <algorithm>

QVector<DiskResult> StationTracker::observe(const QVector<DiskResult>& present, qint64 nowMs)
{
    QVector<bool> seen(known_.size(), false);
    QVector<DiskResult> arrived;
    for (const DiskResult& disk : present) {
        const QString path = toQString(disk.devicePath);
        auto at = indexOf_.find(path);
        if (at == indexOf_.end()) {
            indexOf_.insert(path, known_.size());
            Known fresh;
            fresh.disk = disk;
            fresh.present = true;
            known_.append(fresh);
            seen.append(true);
            arrived.append(disk);
            continue;
        }
        Known& known = known_[*at];
        seen[*at] = true;
        known.disk = disk; // its size may be known by now
        if (known.present)
            continue;
        // Back after it left: written by a wave and gone only briefly, it is the same plug-in.
        const bool briefly = nowMs - known.goneSinceMs < kStationReturnMs;
        known.present = true;
        known.goneSinceMs = -1;
        if (known.written && briefly)
            continue;
        known.due = true;
        arrived.append(disk);
    }
    for (int i = 0; i < known_.size(); ++i) {
        if (!seen[i] && known_[i].present) {
            known_[i].present = false;
            known_[i].goneSinceMs = nowMs;
        }
    }
    if (!arrived.isEmpty()) {
        waveComing_ = true;
        settleFromMs_ = nowMs;
    }
    return arrived;
}

QVector<DiskResult> StationTracker::waiting() const
{
    QVector<DiskResult> due;
    for (const Known& known : known_) {
        if (known.present && known.due)
            due.append(known.disk);
    }
    return due;
}

QVector<QPair<DiskResult, int>> StationTracker::alreadyWritten() const
{
    QVector<QPair<DiskResult, int>> written;
    for (const Known& known : known_) {
        if (known.present && !known.due && known.written)
            written.append({known.disk, known.wave});
    }
    return written;
}

qint64 StationTracker::settleLeftMs(qint64 nowMs) const
{
    if (!waveComing_ || waiting().isEmpty())
        return -1;
    return std::max<qint64>(0, settleFromMs_ + kStationSettleMs - nowMs);
}

int StationTracker::beginWave(QVector<DiskResult>* calculators)
{
    wave_ = waiting().mid(0, kMaxDisks);
    *calculators = wave_;
    waveComing_ = false;
    return ++waves_;
}

void StationTracker::endWave(const HistoryRecord& record, qint64 seconds, qint64 nowMs)
{
    const QVector<DiskResult> wave = wave_;
    wave_.clear();
    // Nothing was written: the same calculators wait, but only a new one starts another wave
    // (the set would be refused again at once).
    if (record.outcome == "refused")
        return;
    for (const DiskResult& disk : wave) {
        Known& known = known_[indexOf_.value(toQString(disk.devicePath))];
        StationRow row;
        row.serial = toQString(disk.serial);
        row.path = toQString(disk.devicePath);
        row.wave = waves_;
        row.results.fill(kNotWritten, record.files.size());
        for (const HistoryCalculator& calculator : record.calculators) {
            if (calculator.path == row.path) {
                row.results = calculator.results;
                row.finish = calculator.finish;
            }
        }
        row.updated =
            row.finish == kResultOk && std::all_of(row.results.begin(), row.results.end(),
                                                   [](int result) { return result == kResultOk; });
        row.pluggedAgain = known.written;
        row.seconds = seconds;
        rows_.append(row);
        known.written = true;
        known.due = false;
        known.wave = waves_;
    }
    // Those the wave had no room for go next, after the usual settling.
    if (!waiting().isEmpty()) {
        waveComing_ = true;
        settleFromMs_ = nowMs;
    }
}

int StationTracker::lastWave(const DiskResult& disk) const
{
    const int index = indexOf_.value(toQString(disk.devicePath), -1);
    return index >= 0 ? known_[index].wave : 0;
}

StationTally StationTracker::tally() const
{
    StationTally tally;
    for (const StationRow& row : rows_)
        ++(row.updated ? tally.updated : tally.failed);
    tally.waiting = waiting().size();
    return tally;
}
