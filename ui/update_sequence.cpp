// What the dialog does while an update runs: the answers to the worker's reports, the
// countdown on the button, retries, the outcome, and the user's buttons.
#include "ui/update_dialog.h"

#include "update/update_policy.h"
#include "worker/update_worker.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace {

constexpr int kCountdownMs = 5250;
constexpr int kStartSoonMs = 1000; // the worker's next one-second step brings it to 0
constexpr int kExitDelayMs = 3000;

} // namespace

// The waiting reports of a loop that has been stopped may still arrive: the outcome shown
// stays.
void CCalcFWUpdateMSDialog::onFoundDevice()
{
    if (worker->stopRequested)
        return;
    countdownMs = kCountdownMs;
}

void CCalcFWUpdateMSDialog::onWaitingTicks(int ticks)
{
    if (worker->stopRequested)
        return;
    QString text = translate("Waiting for connection...", 521);
    text.chop(1);
    if (ticks > 0)
        text += QString(ticks, '.');
    setLine(text, 1);
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
    cancelButton->setText(translate("Start", 20) + " - " + QString::number(seconds));
    startOffered_ = true;
}

void CCalcFWUpdateMSDialog::onCancel()
{
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
    updateUnderway_ = true;
    startOffered_ = false;
    cancelButton->setText(translate("Start", 20));
    cancelButton->setEnabled(false);
}

void CCalcFWUpdateMSDialog::onUpdateMessage(const QString& message)
{
    setLine(message, 3);
}

void CCalcFWUpdateMSDialog::onUpdateProgress(int percent)
{
    progressBar->setValue(percent);
}

void CCalcFWUpdateMSDialog::onDownloadInactive()
{
    busy = false;
}

void CCalcFWUpdateMSDialog::onUpdaterRan(int result)
{
    if (result != 0) {
        const int previous = worker->retryCount.fetch_add(1);
        if (previous >= kRetries) {
            finishUpdate(QString("Update failed (%1)").arg(result));
            return;
        }
        setLine(QString("Update failed (%1), Retry: %2").arg(result).arg(previous + 1), 1);
        selectCurrentFile();
        return;
    }
    setLine(QString("Update OK (%1)").arg(worker->lastResult.load()), 1);
    if (currentFile + 1 < updateFiles.size()) {
        worker->retryCount = 0;
        ++currentFile;
        selectCurrentFile();
        worker->state = Transferring;
        return;
    }
    finishUpdate(translate("Done", 627));
    scheduleExit();
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
    if (finishDeferred_ || finishPending_) {
        leaveWhenFinishSent();
        return;
    }
    QCoreApplication::exit(0);
}

void CCalcFWUpdateMSDialog::onUpdateFailed(int result, const QString& reason)
{
    finishUpdate(QString("Update failed (%1)").arg(result));
    setLine(reason, 2);
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
