// What the dialog does while an update runs: the answers to the worker's reports, the
// countdown on the button, retries, the outcome, and the user's buttons.
#include "ui/update_dialog.h"

#include "device/engine.h"
#include "ui/file_line_label.h"
#include "update/update_run.h"
#include "worker/update_worker.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

using namespace WindowTexts;

namespace {

constexpr int kCountdownMs = 5250;
constexpr int kStartSoonMs = 1000; // the worker's next one-second step brings it to 0
constexpr int kExitDelayMs = 3000;
// Within the text column of the narrowest window, beside the picture.
constexpr int kTallyWidthMost = 400;

} // namespace

// The waiting reports of a loop that has been stopped may still arrive: the outcome shown
// stays.
void CCalcFWUpdateMSDialog::onFoundDevice()
{
    if (worker->stopRequested)
        return;
    waitingHintTimer_->stop();
    setHint(QString());
    // A station's worker counts its settle itself, and starts it again at each arrival.
    if (!station_)
        countdownMs = kCountdownMs;
}

void CCalcFWUpdateMSDialog::onWaitingTicks(int ticks)
{
    if (worker->stopRequested)
        return;
    // A station's settle that lost its calculators before it ran out: the button cancels again.
    if (station_ && startOffered_) {
        startOffered_ = false;
        setButtonText(translate("Cancel", 2));
    }
    QString text = translate("Waiting for connection...", 521);
    text.chop(1);
    if (ticks > 0)
        text += QString(ticks, '.');
    setLine(text, 1);
    // Counted from the first report of this wait; the hint stays until a calculator is found.
    // The "waiting" line the worker still shows for a moment after it found one starts nothing.
    if (worker->state == Searching && !waitingHintTimer_->isActive() &&
        textLines[3]->text().isEmpty())
        waitingHintTimer_->start();
}

void CCalcFWUpdateMSDialog::onWaitingTooLong()
{
    waitingHintTimer_->stop(); // also when its end was brought forward
    if (worker->stopRequested || worker->state != Searching)
        return;
    setHint(translate(kWaitingHint));
}

void CCalcFWUpdateMSDialog::onWaitingStart()
{
    if (worker->stopRequested)
        return;
    const int left = countdownMs;
    if (left == 0) {
        setLine(QString(), 1);
        return;
    }
    setLine(translate("Waiting to start\xE2\x80\xA6", 7774), 1);
    const int seconds = left / 1000 > 0 ? left / 1000 : 0;
    setButtonText(translate("Start", 20) + " - " + QString::number(seconds));
    startOffered_ = true;
}

void CCalcFWUpdateMSDialog::onCancel()
{
    // A station ends when it is closed between waves: each wave has sent its own finish command.
    if (station_) {
        if (startOffered_)
            worker->startWaveEarly();
        else
            close();
        return;
    }
    // Once the button offers the start it shortens the wait (while time is left), and never
    // turns into an abort before the transfer begins. Until then it reads "Cancel" and cancels.
    if (startOffered_) {
        int left = countdownMs;
        while (left != 0 && !countdownMs.compare_exchange_weak(left, kStartSoonMs)) {
        }
        return;
    }
    finishUpdate(translate("Update aborted", 633));
    close();
}

void CCalcFWUpdateMSDialog::onDownloadActive()
{
    // A stopped loop starts no transfer: an announcement of one must not lock the window.
    if (worker->stopRequested)
        return;
    if (!busy) {
        busy = true;
        setLine(QString(), 1);
    }
    waitingHintTimer_->stop();
    setHint(QString()); // the hint of a failed attempt, now being tried again
    updateUnderway_ = true;
    startOffered_ = false;
    setButtonText(translate("Start", 20));
    cancelButton->setEnabled(false);
}

void CCalcFWUpdateMSDialog::onUpdateMessage(const QString& message)
{
    setLine(message, 3);
}

void CCalcFWUpdateMSDialog::onUpdateProgress(int percent)
{
    progressBar->setValue(percent);
    if (percent < 0 || percent > 100)
        return;
    if (!clock_.isValid())
        clock_.start();
    timeLeft_.report(percent, clock_.elapsed());
    const int seconds = timeLeft_.secondsLeft();
    // Qt's own placeholder stays: the bar keeps showing the percentage in every language.
    QString format = "%p%";
    if (seconds >= 0)
        format += "  \u2013  " + translate(kTimeLeft).arg(formatDuration(seconds));
    progressBar->setFormat(format);
}

void CCalcFWUpdateMSDialog::onCalculatorsCounted(int found, int updated)
{
    if (station_) {
        const WindowText& wave = updated == 1 ? kWaveUpdatingOne : kWaveUpdatingMany;
        setLine(updated > 0 ? translate(wave).arg(wave_).arg(updated) : QString(), 2);
        return;
    }
    // None yet: the transfer searches again, and its outcome says what it found.
    const WindowText& updating = updated == 1 ? kUpdatingOne : kUpdatingMany;
    setLine(updated > 0 ? translate(updating).arg(updated) : QString(), 2);
    tooManyCalculators_ =
        found > updated ? translate(kTooManyCalculators).arg(found).arg(updated) : QString();
    setHint(tooManyCalculators_);
}

void CCalcFWUpdateMSDialog::onDownloadInactive()
{
    busy = false;
}

void CCalcFWUpdateMSDialog::onUpdaterRan(int result)
{
    if (station_) {
        stationAttemptRan(result);
        return;
    }
    const int previous = result != 0 ? worker->retryCount.fetch_add(1) : 0;
    // The window's update never goes on past a file some calculator lacks: whether any holds it
    // does not matter.
    switch (stepAfterAttempt(CUpdateWorker::runOptions(), currentFile, updateFiles.size(),
                             previous + 1, result, false)) {
    case UpdateStep::GiveUp:
        finishUpdate(translate(kUpdateFailed).arg(result));
        setFailureHint(result, true);
        return;
    case UpdateStep::Retry:
        showRetry(result, previous + 1);
        return;
    case UpdateStep::NextFile:
        startNextFile(translate(kUpdateOk).arg(worker->lastResult.load()));
        return;
    case UpdateStep::Done:
        setLine(translate(kUpdateOk).arg(worker->lastResult.load()), 1);
        succeeded_ = true;
        finishUpdate(translate("Done", 627));
        scheduleExit();
        return;
    }
}

// A one-shot timer the dialog owns, so that it can be seen while it runs.
void CCalcFWUpdateMSDialog::scheduleExit()
{
    auto* timer = new QTimer(this);
    timer->setObjectName("exitTimer");
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, &CCalcFWUpdateMSDialog::onExitUpdater);
    timer->start(kExitDelayMs);
}

void CCalcFWUpdateMSDialog::onExitUpdater()
{
    // The window stays until the finish command is known to have reached every calculator.
    if (finishPending_) {
        quitAfterDone_ = true;
        return;
    }
    if (!succeeded_)
        return; // the finish missed a calculator: the window says so until it is closed
    QCoreApplication::exit(0);
}

void CCalcFWUpdateMSDialog::onUpdateFailed(int result, const QString& reason,
                                           const UpdateProblem& problem)
{
    finishUpdate(translate(kUpdateFailed).arg(result));
    setLine(problem.isNone() ? reason : describe(problem), 2);
    setFailureHint(result, true);
}

void CCalcFWUpdateMSDialog::onBrowseFolder()
{
    QFileDialog browser(this, QString(), QString(), QString());
    browser.setFileMode(QFileDialog::Directory);
    browser.setOption(QFileDialog::ShowDirsOnly);
    browser.setDirectory(updateFolder);
    if (browser.exec() != QDialog::Accepted)
        return;
    // The folder selected in the browser, else the one it shows.
    const QStringList chosen = browser.selectedFiles();
    updateFolder = !chosen.isEmpty() && !chosen.first().isEmpty() ? chosen.first()
                                                                  : browser.directory().path();
    scanUpdateFolder();
}

void CCalcFWUpdateMSDialog::onAttemptStep(int step)
{
    stationStep_ = step;
}

// The worker has decided what follows (it keeps the wave's record): the dialog shows it and hands
// over the next file, as for the window's own update.
void CCalcFWUpdateMSDialog::startNextFile(const QString& outcome)
{
    setLine(outcome, 1);
    worker->retryCount = 0;
    ++currentFile;
    selectCurrentFile();
    worker->state = Transferring;
}

void CCalcFWUpdateMSDialog::showRetry(int result, int retry)
{
    setLine(translate(kUpdateFailedRetry).arg(result).arg(retry), 1);
    setLine(QString(), 2); // no transfer runs until the retry
    setFailureHint(result, false);
    selectCurrentFile();
}

void CCalcFWUpdateMSDialog::stationAttemptRan(int result)
{
    const int previous = result != 0 ? worker->retryCount.fetch_add(1) : 0;
    const QString outcome = translate(result == 0 ? kUpdateOk : kUpdateFailed).arg(result);
    switch (UpdateStep(stationStep_)) {
    case UpdateStep::Retry:
        showRetry(result, previous + 1);
        return;
    case UpdateStep::NextFile:
        // Also past a file that a broken calculator lacks: the others of the wave go on.
        startNextFile(outcome);
        return;
    case UpdateStep::Done:
    case UpdateStep::GiveUp:
        setLine(outcome, 1); // the wave's end follows once its finish command has gone out
        return;
    }
}

void CCalcFWUpdateMSDialog::onWaveStarted(int wave, int calculators)
{
    if (worker->stopRequested)
        return;
    wave_ = wave;
    // From here to the wave's finish command the window stays.
    updateUnderway_ = true;
    startOffered_ = false;
    waitingHintTimer_->stop();
    setHint(QString());
    worker->retryCount = 0;
    currentFile = 0;
    selectCurrentFile();
    progressBar->reset();
    progressBar->show();
    setLine(QString(), 1);
    setButtonText(translate("Start", 20));
    cancelButton->setEnabled(false);
    textLines[1]->setMinimumWidth(0); // the wave's line wraps as any other
    const WindowText& text = calculators == 1 ? kWaveUpdatingOne : kWaveUpdatingMany;
    setLine(translate(text).arg(wave).arg(calculators), 2);
}

void CCalcFWUpdateMSDialog::onWaveEnded(int wave, int result, const UpdateProblem& problem)
{
    if (worker->stopRequested)
        return;
    updateUnderway_ = false;
    startOffered_ = false;
    progressBar->hide();
    progressBar->setFormat("%p%");
    setLine(QString(), 3);
    fileLine()->setCounter(QString());
    showTally();
    setButtonText(translate("Cancel", 2));
    cancelButton->setEnabled(true);
    cancelButton->show();
    // The outcome stays on the last line until the next calculators come; the first line goes
    // back to the polling.
    if (!problem.isNone()) {
        setLine(translate(kUpdateFailed).arg(result), 1);
        setHint(translate(kWaveRefused).arg(wave) + " " + describe(problem));
    } else if (result == kResultOk) {
        setLine(translate("Done", 627), 1);
        setHint(translate(kWaveDone).arg(wave));
    } else {
        setLine(translate(kUpdateFailed).arg(result), 1);
        setHint(translate(kWaveFailed).arg(wave).arg(result) + " " +
                translate(failureHint(result)));
    }
}

void CCalcFWUpdateMSDialog::onTallyChanged(int updated, int failed, int waiting)
{
    if (worker->stopRequested)
        return;
    tally_ = translate(kStationTally).arg(updated).arg(failed).arg(waiting);
    if (!updateUnderway_)
        showTally();
}

// The count reads as one line wherever the window has room for it: split, its last number
// would look like a line of its own.
void CCalcFWUpdateMSDialog::showTally()
{
    setLine(tally_, 2);
    QLabel* line = textLines[1];
    const QMargins margins = line->contentsMargins();
    const int natural =
        line->fontMetrics().horizontalAdvance(tally_) + margins.left() + margins.right() + 1;
    line->setMinimumWidth(qMin(natural, kTallyWidthMost));
}
