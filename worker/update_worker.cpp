#include "worker/update_worker.h"

#include "device/engine.h"
#include "device/host.h"
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

} // namespace

CUpdateWorker::CUpdateWorker(std::atomic<int>* countdownMs, std::atomic<bool>* busy)
    : countdownMs_(countdownMs), busy_(busy)
{
    // The refusal's problem crosses to the dialog's thread in a queued signal.
    qRegisterMetaType<UpdateProblem>();
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
    CurrentHost().SleepUnless(milliseconds, stopRequested);
    return !stopRequested;
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
    process();
}

void CUpdateWorker::step()
{
    switch (state) {
    case Searching:
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
    if (!transferStarted && !checkSet())
        return;
    *busy_ = true;
    transferStarted = true;
    beginForwardedFile();
    const int found = countCalculators();
    emit calculatorsCounted(found, found < kMaxDisks ? found : kMaxDisks);
    const int result = runTransfer();
    lastResult = result;
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
    run_.record().outcome = "refused";
    run_.record().result = check.result;
    // Written now: nothing more will happen to it, and an update started afresh from another
    // folder before the window closes must not replace it unwritten.
    writeHistory();
    lastResult = check.result;
    requestStop();
    emit updateFailed(check.result, check.reason, check.problem);
    return false;
}

// A file of the checked set goes through the update run, which proves every chunk against the
// check and keeps the record; any other path is written as it is.
int CUpdateWorker::runTransfer()
{
    const QString path = filePath();
    int file = -1;
    for (int i = 0; historyOpen_ && i < run_.set().size() && file < 0; ++i)
        file = run_.set()[i].path == path ? i : -1;
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
