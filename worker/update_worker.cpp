#include "worker/update_worker.h"

#include "device/engine.h"
#include "device/host.h"
#include "device/text16.h"
#include "update/engine_text.h"
#include "update/update_policy.h"
#include "worker/forwarding.h"

#include <QFileInfo>

#include <QMutexLocker>
#include <algorithm>

namespace {

const WChar* const kVendorId = kCalculatorVendorId16.text;
const WChar* const kProductId = kCalculatorProductId16.text;

constexpr int kStartPauseMs = 500;
constexpr int kPollPauseMs = 500;
constexpr int kCountdownStepMs = 1000;
constexpr int kBeforeTransferMs = 250;
constexpr int kAfterTransferMs = 100;
constexpr int kIdlePauseMs = 250;
constexpr int kFinishPauseMs = 250;
// How long a retry waits for an unplugged calculator to come back before its transfer runs all
// the same (and fails with 104, a counted attempt): the update ends even if it never does.
constexpr int kRetrySearchMs = 10000;
// How many calculators a station's listing takes in: far more than a class set.
constexpr int kStationListing = 256;

// Lowers the countdown by one step in a single read-modify-write: the GUI thread may store a new
// value at the same moment, and neither write may be lost.
void lowerCountdown(std::atomic<int>& countdownMs)
{
    int current = countdownMs.load();
    int lowered;
    do {
        lowered = current > kCountdownStepMs ? current - kCountdownStepMs : 0;
    } while (!countdownMs.compare_exchange_weak(current, lowered));
}

// Calculators present beyond the engine's limit are counted too, so that the user learns of
// the ones a transfer leaves alone. One search; no disk is opened for a mere count.
int countCalculators()
{
    return ListCalculatorDisks(kVendorId, kProductId, nullptr, 0);
}

QString folderOf(const QVector<UpdateSetEntry>& set)
{
    return set.isEmpty() ? QString() : QFileInfo(set[0].path).absolutePath();
}

// What a station's wave comes to: the first failure on any of its calculators, a calculator
// lacking a file (one unplugged during the wave) as 104, then the finish command's.
int waveResult(const HistoryRecord& record, int finishResult)
{
    for (const HistoryCalculator& calculator : record.calculators) {
        for (int result : calculator.results) {
            if (result != kResultOk && result != kNotWritten)
                return result;
        }
    }
    return everyFileWritten(record) ? finishResult : int(kResultNoDevice);
}

} // namespace

CUpdateWorker::CUpdateWorker(std::atomic<int>* countdownMs, std::atomic<bool>* busy, bool station)
    : countdownMs_(countdownMs), busy_(busy), station_(station)
{
    // The refusal's problem crosses to the dialog's thread in a queued signal.
    qRegisterMetaType<UpdateProblem>();
    clock_.start();
}

CUpdateWorker::~CUpdateWorker() = default;

void CUpdateWorker::setTarget(const QString& path, std::int64_t offset)
{
    QMutexLocker guard(&lock_);
    diskOffset_ = offset;
    filePath_ = path;
}

QString CUpdateWorker::filePath() const
{
    QMutexLocker guard(&lock_);
    return filePath_;
}

std::int64_t CUpdateWorker::diskOffset() const
{
    QMutexLocker guard(&lock_);
    return diskOffset_;
}

void CUpdateWorker::setUpdateSet(const QVector<UpdateSetEntry>& set)
{
    QMutexLocker guard(&lock_);
    set_ = set;
}

QVector<UpdateSetEntry> CUpdateWorker::updateSet() const
{
    QMutexLocker guard(&lock_);
    return set_;
}

void CUpdateWorker::process()
{
    // Whatever escapes a step ends the loop, and the update with it.
    bool failed = false;
    try {
        pause(kStartPauseMs);
        while (!stopRequested)
            step();
    } catch (...) {
        lastResult = kResultException;
        failed = true;
    }
    if (failed)
        emit updateFailed(kResultException, QString());
    // A wave cut short still gets its finish command and its record, unless nothing was written.
    if (waveUnderway) {
        try {
            if (transferStarted)
                finishWave(failed ? "failed" : "interrupted");
            else
                closeWave(kResultStopped, UpdateProblem());
        } catch (...) {
            waveUnderway = false;
        }
    }
    // Sent here rather than by the queued call alone: whoever waits for this thread to end then
    // also waits for the command.
    finish();
}

void CUpdateWorker::requestStop()
{
    QMutexLocker guard(&lock_);
    restartPending_ = false;
    stopRequested = true;
}

void CUpdateWorker::requestFinish()
{
    {
        QMutexLocker guard(&lock_);
        restartPending_ = false;
        // Before the stop: a loop that sees the stop also sees the finish it must send.
        finishPending_ = true;
        stopRequested = true;
    }
    // For a loop that has already ended; a running one sends it on its way out.
    QMetaObject::invokeMethod(this, "finish", Qt::QueuedConnection);
}

void CUpdateWorker::finish()
{
    if (!finishPending_.exchange(false))
        return;
    try {
        // The engine takes one operation at a time; the pause lets a stopped loop's last step
        // settle first.
        HostSleep(kFinishPauseMs);
        const int missed = run_.finish();
        finishResult = historyOpen_ ? missed : kResultOk;
        writeHistory();
    } catch (...) {
        // Nothing of the engine throws; a failing pause still has to report the end.
    }
    emit finishSent();
}

bool CUpdateWorker::pause(int milliseconds)
{
    const qint64 before = clock_.elapsed();
    CurrentHost().SleepUnless(milliseconds, stopRequested);
    realPausedMs_ += clock_.elapsed() - before;
    pausedMs_ += milliseconds;
    return !stopRequested;
}

qint64 CUpdateWorker::stationNowMs() const
{
    return pausedMs_ + wavesMs_;
}

void CUpdateWorker::requestRestart()
{
    {
        QMutexLocker guard(&lock_);
        restartPending_ = true;
    }
    QMetaObject::invokeMethod(this, "restart", Qt::QueuedConnection);
}

void CUpdateWorker::restart()
{
    {
        // A stop that came after the request wins: the update it would restart is over.
        QMutexLocker guard(&lock_);
        if (!restartPending_)
            return;
        restartPending_ = false;
        stopRequested = false;
    }
    transferStarted = false;
    tickCount = 0;
    retryCount = 0;
    state = Searching;
    // A station starts afresh too: its set may be another folder's.
    tracker_ = StationTracker();
    stationChecked_ = false;
    stationDigests_.clear();
    reported_ = {-1, -1, -1};
    process();
}

void CUpdateWorker::step()
{
    switch (state) {
    case Searching:
        // A retry within a wave goes straight on: the other calculators at the station say
        // nothing of the wave's own, and a missing one fails its attempt with 104.
        if (station_ && waveUnderway)
            state = CountingDown;
        else if (station_)
            stationPoll();
        else
            search();
        break;
    case CountingDown:
        countDown();
        break;
    case Transferring:
        transfer();
        break;
    case Idle:
        pause(kIdlePauseMs);
        break;
    case Backoff:
        if (pause(kRetryPauseMs))
            state = Searching;
        break;
    default:
        break;
    }
}

void CUpdateWorker::search()
{
    tickCount = (tickCount + 1) % 5;
    if (!IsCalculatorConnected(kVendorId, kProductId)) {
        if (transferStarted && searchedMs_ >= kRetrySearchMs) {
            searchedMs_ = 0;
            state = CountingDown; // its countdown has run out: the transfer follows
            return;
        }
        if (transferStarted)
            searchedMs_ += kPollPauseMs;
        emit waitingTicks(tickCount);
        pause(kPollPauseMs);
        return;
    }
    searchedMs_ = 0;
    state = CountingDown;
    // A retry goes straight on: its countdown has already run out once.
    if (transferStarted)
        return;
    emit foundDevice();
    if (!pause(kPollPauseMs))
        return; // an update that has ended shows no more waiting
    emit waitingTicks(tickCount);
    pause(kPollPauseMs);
}

void CUpdateWorker::countDown()
{
    if (*countdownMs_ != 0) {
        lowerCountdown(*countdownMs_);
        emit waitingStart();
        pause(kCountdownStepMs);
        return;
    }
    emit downloadActive();
    state = Transferring;
    pause(kBeforeTransferMs);
}

void CUpdateWorker::transfer()
{
    // A station's set was checked as its wave began.
    if (!station_ && !transferStarted && !checkSet())
        return;
    *busy_ = true;
    transferStarted = true;
    beginForwardedFile();
    const int found = station_ ? waveSize_ : countCalculators();
    // The update writes the calculators its check found; one plugged in since is not among them
    // and is no calculator too many.
    const int ours = run_.calculatorCount();
    const int updated = ours >= 0 ? ours : std::min(found, kMaxDisks);
    emit calculatorsCounted(found > kMaxDisks ? found : updated, updated);
    const int result = runTransfer();
    lastResult = result;
    if (station_) {
        const UpdateStep step = stationStep(result);
        // A wave that goes on past a broken calculator waits for the dialog's next file, as
        // after a success.
        state = step == UpdateStep::Retry ? Backoff : Idle;
        emit attemptStep(int(step));
        emit updaterRan(result);
        emit downloadInactive();
        pause(kAfterTransferMs);
        if (step == UpdateStep::Done || step == UpdateStep::GiveUp)
            finishWave(QString());
        return;
    }
    // Stored before the signals: the dialog may answer them by storing Transferring for the
    // next file, which must not be overwritten here.
    state = result == kResultOk ? Idle : Backoff;
    emit updaterRan(result);
    emit downloadInactive();
    pause(kAfterTransferMs);
}

// Runs before the first transfer of an update, after the countdown: a file changed while the
// user waited is seen too. A refused set ends the update with nothing written.
bool CUpdateWorker::checkSet()
{
    QVector<UpdateSetEntry> set;
    {
        QMutexLocker guard(&lock_);
        set = set_;
    }
    if (set.isEmpty())
        return true;
    const QString folder = QFileInfo(set[0].path).absolutePath();
    run_ = UpdateRun(runOptions(), set, folder);
    historyOpen_ = true;
    const UpdateSetCheck check = run_.check();
    if (check.result == kResultOk)
        return true;
    refuse(check);
    return false;
}

void CUpdateWorker::refuse(const UpdateSetCheck& check)
{
    run_.record().outcome = "refused";
    run_.record().result = check.result;
    // Written now: nothing more will happen to it, and an update started afresh from another
    // folder before the window closes must not replace it unwritten.
    writeHistory();
    lastResult = check.result;
    requestStop();
    emit updateFailed(check.result, check.reason, check.problem);
}

int CUpdateWorker::fileOfRun(const QString& path) const
{
    for (int i = 0; historyOpen_ && i < run_.set().size(); ++i) {
        if (run_.set()[i].path == path)
            return i;
    }
    return -1;
}

// A file of the checked set goes through the update run, which proves every chunk against the
// check and keeps the record; any other path is written as it is.
int CUpdateWorker::runTransfer()
{
    const QString path = filePath();
    const int file = fileOfRun(path);
    if (file >= 0)
        return run_.attempt(file, forwardProgress, forwardMessage);
    if (path.contains(QChar(0)))
        return kResultSourceOpen;
    const String16 source = toString16(path);
    return RunCheckedTransfer(kVendorId, kProductId, source.c_str(), diskOffset(), nullptr,
                              forwardProgress, forwardMessage);
}

void CUpdateWorker::writeHistory()
{
    if (!historyOpen_)
        return;
    historyOpen_ = false;
    HistoryRecord& history = run_.record();
    if (history.outcome.isEmpty()) {
        const bool written = everyFileWritten(history);
        const bool ok = written && finishResult == kResultOk;
        history.outcome = ok ? "ok" : "failed";
        history.result = ok                                    ? kResultOk
                         : !written && lastResult != kResultOk ? int(lastResult)
                         : written                             ? int(finishResult)
                                                               : kResultNoDevice;
    }
    QString error;
    if (!appendHistory(history, &error))
        qWarning("The update history was not written: %s", qPrintable(error));
}

void CUpdateWorker::reportTally()
{
    const StationTally tally = tracker_.tally();
    if (tally.updated == reported_.updated && tally.failed == reported_.failed &&
        tally.waiting == reported_.waiting)
        return;
    reported_ = tally;
    emit tallyChanged(tally.updated, tally.failed, tally.waiting);
}

// One poll of a station between its waves: which calculators are there, and whether a wave is
// due. Never opens a disk: one may be about to be written.
void CUpdateWorker::stationPoll()
{
    const QVector<UpdateSetEntry> set = updateSet();
    if (!set.isEmpty() && !stationChecked_ && !checkStation(set))
        return;
    tickCount = (tickCount + 1) % 5;
    const qint64 now = stationNowMs();
    const bool arrived =
        !tracker_.observe(presentCalculators(kStationListing, false), now).isEmpty();
    reportTally();
    if (arrived)
        emit foundDevice();
    // Without a checked set (the folder is still being scanned) no wave can begin.
    const qint64 left = stationChecked_ && !set.isEmpty() ? tracker_.settleLeftMs(now) : -1;
    if (left < 0) {
        startEarly_ = false;
        *countdownMs_ = 0;
        emit waitingTicks(tickCount);
        pause(kPollPauseMs);
        return;
    }
    if (left > 0 && !startEarly_) {
        *countdownMs_ = int(left);
        emit waitingStart();
        pause(kPollPauseMs);
        return;
    }
    if (!stopRequested)
        beginWave();
}

bool CUpdateWorker::checkStation(const QVector<UpdateSetEntry>& set)
{
    run_ = UpdateRun(stationRunOptions(), set, folderOf(set));
    run_.restrictTo({});
    const UpdateSetCheck check = run_.check();
    if (check.result == kResultOk) {
        stationDigests_ = run_.digests();
        stationChecked_ = true;
        return true;
    }
    // As the window's own update: the refusal is kept, and the station ends with nothing written.
    historyOpen_ = true;
    refuse(check);
    return false;
}

void CUpdateWorker::beginWave()
{
    waveUnderway = true;
    startEarly_ = false;
    *countdownMs_ = 0;
    QVector<DiskResult> calculators;
    wave_ = tracker_.beginWave(&calculators);
    waveSize_ = calculators.size();
    waveStartMs_ = stationNowMs();
    waveClockStart_ = clock_.elapsed() - realPausedMs_;
    // Their sizes, for the check: one listing that opens the disks, now that no poll runs.
    const QVector<DiskResult> opened = presentCalculators(kStationListing, true);
    for (DiskResult& calculator : calculators) {
        for (const DiskResult& disk : opened) {
            if (Equal16(calculator.devicePath, disk.devicePath))
                calculator.size = disk.size;
        }
    }
    const QVector<UpdateSetEntry> set = updateSet();
    run_ = UpdateRun(stationRunOptions(), set, folderOf(set));
    run_.record().wave = wave_;
    run_.restrictTo(calculators);
    historyOpen_ = true;
    transferStarted = false;
    finishResult = kResultOk;
    attemptFile_ = -1;
    attempts_ = 0;
    // The wave starts at the first file, whatever the last wave ended on.
    setTarget(set[0].path, set[0].diskOffset);
    emit waveStarted(wave_, waveSize_);
    const UpdateSetCheck check = run_.check(nullptr, &stationDigests_);
    if (check.result != kResultOk) {
        run_.record().outcome = "refused";
        run_.record().result = check.result;
        lastResult = check.result;
        closeWave(check.result, check.problem);
        return;
    }
    // Its countdown is over: the transfer follows.
    state = CountingDown;
}

UpdateStep CUpdateWorker::stationStep(int result)
{
    const int file = fileOfRun(filePath());
    if (file < 0)
        return UpdateStep::GiveUp;
    attempts_ = file == attemptFile_ ? attempts_ + 1 : 1;
    attemptFile_ = file;
    return run_.stepAfter(file, attempts_, result);
}

void CUpdateWorker::finishWave(const QString& outcome)
{
    finishResult = run_.finish();
    HistoryRecord& record = run_.record();
    const int result =
        lastResult == kResultException ? int(kResultException) : waveResult(record, finishResult);
    record.result = result;
    record.outcome = !outcome.isEmpty() ? outcome : result == kResultOk ? "ok" : "failed";
    closeWave(result, UpdateProblem());
}

void CUpdateWorker::closeWave(int result, const UpdateProblem& problem)
{
    if (run_.record().outcome.isEmpty()) {
        run_.record().outcome = "interrupted";
        run_.record().result = result;
    }
    writeHistory();
    wavesMs_ += clock_.elapsed() - realPausedMs_ - waveClockStart_;
    const qint64 now = stationNowMs();
    tracker_.endWave(run_.record(), (now - waveStartMs_) / 1000, now);
    transferStarted = false;
    state = Searching;
    waveUnderway = false;
    // The count first: the dialog shows it with the wave's outcome.
    reportTally();
    emit waveEnded(wave_, result, problem);
}
