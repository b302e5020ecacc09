// The station: a class set updated wave after wave as its calculators are plugged in, each wave
// an update of its own of the calculators it showed, on the main thread like `update`.
#include "cli_station.h"

#include "cli_run.h"
#include "device/text16.h"
#include "interrupt.h"
#include "update/engine_text.h"
#include "update/station.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <cmath>

namespace {

constexpr int kPollMs = 500;

// The station's time: the pauses it made, and the real time of the rest (a wave's writing). A
// pause that the host shortens (as the tests' does) still counts in full.
class StationClock {
public:
    StationClock() { real_.start(); }
    qint64 now() const { return pausedMs_ + real_.elapsed() - pausedRealMs_; }
    bool pause(int milliseconds)
    {
        const qint64 before = real_.elapsed();
        const bool ok = pauseUnlessInterrupted(milliseconds);
        pausedRealMs_ += real_.elapsed() - before;
        pausedMs_ += milliseconds;
        return ok;
    }

private:
    QElapsedTimer real_;
    qint64 pausedMs_ = 0;
    qint64 pausedRealMs_ = 0;
};

// The whole set, read and digested once before any calculator: a folder that could not be
// written refuses the station, and every wave is proven against these digests.
int checkFirst(const CliOptions& options, CliReport& report, const QList<CUpdateFile*>& files,
               const QString& folder, QVector<SourceDigest>* digests)
{
    CliRun probe(options, report, files, folder);
    probe.run.restrictTo({});
    const UpdateSetCheck check = probe.run.check(&interruptRequested());
    if (check.result == kResultStopped) {
        noticeInterrupt(false);
        return kExitInterrupted;
    }
    if (check.result != kResultOk) {
        report.failed(check.reason, check.result);
        return check.result;
    }
    *digests = check.digests;
    return kExitOk;
}

struct Station {
    const CliOptions& options;
    CliReport& report;
    const QList<CUpdateFile*>& files;
    QString folder;
    QVector<SourceDigest> digests;
    StationTracker tracker;
    StationClock clock;
    int firstFailure = kExitOk;
};

// One wave: its calculators, sized now, written as one update restricted to them. Gives the
// wave's code.
int runWave(Station& station)
{
    QVector<DiskResult> wave;
    const int number = station.tracker.beginWave(&wave);
    // The calculators were listed unopened while waiting; their sizes are needed for the check.
    const QVector<DiskResult> opened = presentCalculators(kCliListCapacity, true);
    for (DiskResult& calculator : wave) {
        for (const DiskResult& disk : opened) {
            if (Equal16(disk.devicePath, calculator.devicePath))
                calculator = disk;
        }
    }
    QStringList next;
    // The wave took the first of those waiting; the rest go next.
    for (const DiskResult& disk : station.tracker.waiting().mid(wave.size()))
        next << toQString(disk.serial);
    station.report.waveStarted(number, wave, next, station.tracker.alreadyWritten());

    QElapsedTimer took;
    took.start();
    CliRun cli(station.options, station.report, station.files, station.folder);
    cli.record().wave = number;
    cli.run.restrictTo(wave);
    int code = writeUpdate(cli, &station.digests);
    // A refused wave wrote nothing: its calculators stay in update mode for a later one.
    code = endUpdate(cli, code, cli.record().outcome != "refused");
    station.tracker.endWave(cli.record(), took.elapsed() / 1000, station.clock.now());
    station.report.waveEnded(number, code, station.tracker.tally());
    return code;
}

// Until Ctrl-C, or --wait without a new calculator. Gives the station's exit code.
int runWaves(Station& station)
{
    const double waitMs = station.options.waitSeconds * 1000;
    qint64 quietSinceMs = 0; // the latest arrival or wave end, for --wait
    int shownSeconds = -1;
    bool endedByWait = false;
    while (interruptCount() == 0) {
        const qint64 now = station.clock.now();
        const QVector<DiskResult> present = presentCalculators(kCliListCapacity, false);
        const QVector<DiskResult> arrived = station.tracker.observe(present, now);
        for (const DiskResult& disk : arrived)
            station.report.arrived(disk, station.tracker.lastWave(disk) > 0,
                                   station.tracker.tally());
        if (!arrived.isEmpty()) {
            quietSinceMs = now;
            shownSeconds = -1;
        }
        const qint64 left = station.tracker.settleLeftMs(now);
        if (left == 0) {
            const int code = runWave(station);
            if (code == kExitInterrupted)
                return kExitInterrupted; // a wave Ctrl-C stopped ends the station after it
            if (code != kExitOk && station.firstFailure == kExitOk)
                station.firstFailure = code;
            quietSinceMs = station.clock.now();
            shownSeconds = -1;
            continue;
        }
        if (left > 0) {
            const int seconds = int((left + 999) / 1000);
            if (seconds != shownSeconds)
                station.report.countdown(seconds, station.tracker.tally().waiting);
            shownSeconds = seconds;
        } else if (station.options.waitSeconds >= 0 && double(now - quietSinceMs) >= waitMs) {
            endedByWait = true;
            break;
        }
        if (!station.clock.pause(kPollMs))
            break;
    }
    if (station.firstFailure != kExitOk)
        return station.firstFailure;
    if (station.tracker.waves() > 0)
        return kExitOk;
    if (endedByWait)
        station.report.failed("no calculator in update mode was found", kExitNoCalculator);
    return endedByWait ? kExitNoCalculator : kExitInterrupted;
}

} // namespace

int runStation(const CliOptions& options, CliReport& report)
{
    setCliReport(&report);
    const QString folder = cliFolder(options);
    QList<CUpdateFile*> files;
    SingleInstance guard;
    int code = prepareUpdate(folder, report, guard, &files);
    Station station{options, report, files, folder, {}, {}, {}, kExitOk};
    if (code == kExitOk)
        code = checkFirst(options, report, files, folder, &station.digests);
    if (code == kExitOk) {
        report.stationStarted(QFileInfo(folder).absoluteFilePath(), options.waitSeconds);
        code = runWaves(station);
        report.stationEnded(station.tracker, station.files, code);
    }
    qDeleteAll(files);
    return code;
}
