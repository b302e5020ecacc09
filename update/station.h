#pragma once

#include "update/update_history.h"

#include <QHash>
#include <QString>
#include <QVector>

// A station updates a class set one wave after another, as calculators are plugged in. The
// tracker decides, from listings of the calculators present, which ones the next wave writes
// and when it begins; the window and the command line each list, wait and run the waves.

// A wave begins once no new calculator has come for this long.
constexpr qint64 kStationSettleMs = 5000;
// A calculator that a wave wrote and that comes back within this long after it left (it
// restarted in update mode, or its disk blinked) is not written again; one plugged in again
// later is.
constexpr qint64 kStationReturnMs = 10000;

// One calculator of one wave, for the station's final table.
struct StationRow {
    QString serial;
    QString path;
    int wave = 0;
    QVector<int> results; // per file, as the wave's record ends
    int finish = kNotWritten;
    bool updated = false;      // every file and the finish command
    bool pluggedAgain = false; // an earlier wave had written it: it left and was plugged in again
    qint64 seconds = 0;        // how long its wave took
};

struct StationTally {
    int updated = 0; // calculator updates of the run that succeeded
    int failed = 0;  // those that did not
    int waiting = 0; // present and due for the next wave
};

class StationTracker {
public:
    // A listing of the calculators present at `nowMs` (opened or not). Gives those that arrived
    // with it: new to the run, or plugged in again after a wave wrote them. Each arrival
    // starts the settle countdown again.
    QVector<DiskResult> observe(const QVector<DiskResult>& present, qint64 nowMs);

    // Present and due for a wave, in listing order; a wave takes the first kMaxDisks.
    QVector<DiskResult> waiting() const;
    // Present, but written by a wave of this run and not plugged in again since: with the
    // wave that wrote each.
    QVector<QPair<DiskResult, int>> alreadyWritten() const;

    // Milliseconds left before the next wave is due, 0 when it is due now, -1 when no wave is
    // coming (nothing waits, or what waits was refused and waits for a new calculator).
    qint64 settleLeftMs(qint64 nowMs) const;

    // The next wave's calculators (the first kMaxDisks that wait) and its number.
    int beginWave(QVector<DiskResult>* calculators);
    // The wave's record as it ended, the time it took: each calculator of it is done for this
    // run (until it leaves and is plugged in again). A record "refused" wrote nothing: its
    // calculators wait again, for a wave that a new calculator starts.
    void endWave(const HistoryRecord& record, qint64 seconds, qint64 nowMs);

    // The wave that last wrote this calculator; 0 when none has.
    int lastWave(const DiskResult& disk) const;

    StationTally tally() const;
    const QVector<StationRow>& rows() const { return rows_; }
    int waves() const { return waves_; }

private:
    struct Known {
        DiskResult disk;
        bool present = false;
        qint64 goneSinceMs = -1;
        int wave = 0;    // the latest wave that wrote it
        bool due = true; // the next wave writes it
        bool written = false;
    };

    QVector<Known> known_; // in order of first arrival
    QHash<QString, int> indexOf_;
    QVector<StationRow> rows_;
    QVector<DiskResult> wave_; // of the wave under way
    int waves_ = 0;
    bool waveComing_ = false; // an arrival since the last wave, or calculators left over
    qint64 settleFromMs_ = 0;
};
