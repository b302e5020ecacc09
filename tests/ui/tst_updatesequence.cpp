#include "dialog_rig.h"

#include "update/update_history.h"
#include "worker/update_worker.h"

#include <QApplication>
#include <QProgressBar>
#include <QSemaphore>
#include <QTimer>
#include <QtTest>

#include <stdexcept>

namespace {

constexpr int kUpdateTimeoutMs = 20000;
const QStringList kNewSet{"ZENTA_APP.DAT", "ZENTA_OS.ROM", "ZENTA_KESTOL.DAT"};

// What the user saw at each report of the worker, read right after the dialog's own slot ran.
struct Watch {
    QStringList outcomes; // line 1 after each updaterRan
    QStringList messages; // the engine's messages: the path of each file written
    QStringList buttons;  // the button after each waitingStart
    int active = 0;
    int found = 0;
    bool barShownInTransfer = false;
    std::function<void()> onStart, onRan, onInactive, onProgress, onFound;

    Watch(DialogRig& rig)
    {
        CCalcFWUpdateMSDialog* d = &rig.dialog();
        CUpdateWorker* w = d->worker;
        QObject::connect(w, &CUpdateWorker::updaterRan, d, [this, &rig] {
            outcomes << rig.line(1);
            if (onRan)
                onRan();
        });
        QObject::connect(w, &CUpdateWorker::waitingStart, d, [this, &rig] {
            buttons << rig.buttonText();
            if (onStart)
                onStart();
        });
        QObject::connect(w, &CUpdateWorker::downloadActive, d, [this] { ++active; });
        QObject::connect(w, &CUpdateWorker::foundDevice, d, [this] {
            ++found;
            if (onFound)
                onFound();
        });
        QObject::connect(w, &CUpdateWorker::downloadInactive, d, [this] {
            if (onInactive)
                onInactive();
        });
        QObject::connect(d, &CCalcFWUpdateMSDialog::updateMessage, d,
                         [this](const QString& text) { messages << text; });
        QObject::connect(d, &CCalcFWUpdateMSDialog::updateProgress, d, [this, d] {
            barShownInTransfer = barShownInTransfer || d->progressBar->isVisible();
            if (onProgress)
                onProgress();
        });
    }
};

// True once the worker's loop has returned: a call queued behind it on its thread has run.
bool waitForLoopEnd(CCalcFWUpdateMSDialog& dialog)
{
    auto ended = std::make_shared<std::atomic<bool>>(false);
    QMetaObject::invokeMethod(
        dialog.worker, [ended] { *ended = true; }, Qt::QueuedConnection);
    return QTest::qWaitFor([ended] { return ended->load(); }, kUpdateTimeoutMs);
}

int finishCommands(const TestHost& host, int disk)
{
    int n = 0;
    for (const auto& e : host.EventsOf(disk))
        n += e.op == TestHost::Op::Command && e.code == 0xBEC1 ? 1 : 0;
    return n;
}

int dataWrites(const TestHost& host)
{
    int n = 0;
    for (const auto& e : host.Events())
        n += e.op == TestHost::Op::Write ? 1 : 0;
    return n;
}

// The records of refused sets in the test run's own history.
int refusalsInHistory()
{
    QVector<QJsonObject> records;
    int unreadable = 0;
    QString error;
    readHistory(&records, &unreadable, &error);
    int n = 0;
    for (const QJsonObject& record : records)
        n += record["outcome"].toString() == "refused" ? 1 : 0;
    return n;
}

bool onWorkerThread()
{
    return g_dialog != nullptr && QThread::currentThread() == g_dialog->workerThread;
}

// Runs the application's loop until something ends it; a loop that nothing ends gives -1.
int runLoop()
{
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    guard.start(kUpdateTimeoutMs);
    return QApplication::exec();
}

// Runs the loop as the program does: closing the last window ends it.
int runLoopUntilLastWindowCloses()
{
    QApplication::setQuitOnLastWindowClosed(true);
    const int code = runLoop();
    QApplication::setQuitOnLastWindowClosed(false);
    return code;
}

// Closes the window from within the loop; what the loop gave.
int closeInLoop(CCalcFWUpdateMSDialog& dialog)
{
    QTimer::singleShot(0, &dialog, [&dialog] { dialog.close(); });
    return runLoopUntilLastWindowCloses();
}

} // namespace

class TestUpdateSequence : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void shouldWriteAllFilesThenExitThreeSecondsAfterDone_data();
    void shouldWriteAllFilesThenExitThreeSecondsAfterDone();
    void shouldRetryFailedFileUpToFiveTimes_data();
    void shouldRetryFailedFileUpToFiveTimes();
    void shouldStartEarlyWhenButtonPressedDuringCountdown_data();
    void shouldStartEarlyWhenButtonPressedDuringCountdown();
    void shouldAbortAndCloseWhenCancelledBeforeStartIsOffered_data();
    void shouldAbortAndCloseWhenCancelledBeforeStartIsOffered();
    void shouldRefuseToCloseFromFirstTransferToOutcome_data();
    void shouldRefuseToCloseFromFirstTransferToOutcome();
    void shouldRestartUpdateFromBrowsedFolder();
    void shouldSendFinishWhenWindowClosesAfterNothingToDo();
    void shouldShowFailureOfStepThatThrows_data();
    void shouldShowFailureOfStepThatThrows();
    void shouldShowReasonOfFailedUpdate();
    void shouldRefuseWholeSetBeforeFirstByte_data();
    void shouldRefuseWholeSetBeforeFirstByte();
    void shouldNeverEndOnDoneWhenFileChangesAfterCheck();
    void shouldKeepOutcomeAgainstReportsOfStoppedLoop();
    void shouldRenderEveryPhase();
    void shouldSayWhenMoreCalculatorsAreThereThanUpdated_data();
    void shouldSayWhenMoreCalculatorsAreThereThanUpdated();
    void shouldStillSayCalculatorsWereLeftOutAfterFailure();
    void shouldHintAtUpdateModeAfterHalfAMinuteOfWaiting();
};

void TestUpdateSequence::shouldWriteAllFilesThenExitThreeSecondsAfterDone_data()
{
    QTest::addColumn<bool>("closed");
    QTest::newRow("the timer ends it") << false;
    QTest::newRow("closed before the finish command went out") << true;
}

void TestUpdateSequence::shouldWriteAllFilesThenExitThreeSecondsAfterDone()
{
    QFETCH(bool, closed);
    DialogRig rig;
    const int disk = rig.host().AddCalculator("A1");
    rig.addUpdateSet();
    // No pause on the GUI thread: the window keeps being drawn. The finishing step waits here
    // until the test lets it go on.
    std::atomic<int> guiPauses{0};
    std::atomic<bool> held{false};
    QSemaphore finishGoesOn;
    rig.paced.beforeSleep = [&](int ms) {
        if (QThread::currentThread() == QCoreApplication::instance()->thread())
            ++guiPauses;
        else if (ms == 250 && onWorkerThread() && g_dialog->worker->stopRequested &&
                 !held.exchange(true))
            finishGoesOn.tryAcquire(1, kUpdateTimeoutMs);
    };
    CCalcFWUpdateMSDialog& dialog = rig.start();
    const QStringList order{dialog.updateFiles[0]->path, dialog.updateFiles[1]->path,
                            dialog.updateFiles[2]->path};
    Watch watch(rig);
    int finishedAtDone = -1;
    watch.onRan = [&] {
        if (rig.line(1) == "Done")
            finishedAtDone = finishCommands(rig.host(), disk);
    };
    QTRY_COMPARE_WITH_TIMEOUT(rig.line(1), QString("Done"), kUpdateTimeoutMs);

    QCOMPARE(watch.buttons, (QStringList{"Start - 4", "Start - 3", "Start - 2", "Start - 1",
                                         "Start - 0", "Start - 0"}));
    // One search and one countdown; each next file starts at once after "Update OK (0)".
    QCOMPARE(watch.found, 1);
    QCOMPARE(watch.active, 1);
    QCOMPARE(watch.outcomes, (QStringList{"Update OK (0)", "Update OK (0)", "Done"}));
    QCOMPARE(watch.messages, order); // in listing order, each shown on line 3 in its turn
    QVERIFY(watch.barShownInTransfer);
    for (const QString& name : kNewSet)
        QVERIFY(rig.calculatorHolds(disk, name, diskOffsetFor(name)));
    QCOMPARE(finishedAtDone, 0);
    QVERIFY(!dialog.progressBar->isVisible() && !dialog.cancelButton->isVisible());
    QVERIFY(rig.line(3).isEmpty());
    QVERIFY(!dialog.busy);

    auto* timer = dialog.findChild<QTimer*>("exitTimer");
    QVERIFY(timer != nullptr && timer->isActive() && timer->isSingleShot());
    QCOMPARE(timer->interval(), 3000);
    QVERIFY(timer->remainingTime() > 2000);
    bool hiddenAtClose = false;
    int finishedAtClose = -1;
    QTimer::singleShot(0, timer, [&] {
        if (closed) {
            dialog.close();
            hiddenAtClose = !dialog.isVisible();
            finishedAtClose = finishCommands(rig.host(), disk);
        } else {
            // The timer's end now rather than in 3 s.
            QMetaObject::invokeMethod(timer, "timeout");
        }
        finishGoesOn.release();
    });
    // The loop ends with 0, and not before the finish command has gone out.
    QCOMPARE(runLoop(), 0);
    QCOMPARE(finishCommands(rig.host(), disk), 1);
    QCOMPARE(guiPauses.load(), 0);
    if (closed) {
        QVERIFY(hiddenAtClose);
        QCOMPARE(finishedAtClose, 0);
    }
}

void TestUpdateSequence::shouldRetryFailedFileUpToFiveTimes_data()
{
    QTest::addColumn<int>("failures");
    QTest::addColumn<QStringList>("outcomes");
    const QString retry = "Update failed (112), Retry: %1";
    QTest::newRow("one failure") << 1
                                 << QStringList{retry.arg(1), "Update OK (0)", "Update OK (0)",
                                                "Done"};
    QTest::newRow("five failures")
        << 5 << QStringList{retry.arg(1), retry.arg(2),    retry.arg(3),    retry.arg(4),
                            retry.arg(5), "Update OK (0)", "Update OK (0)", "Done"};
    QTest::newRow("six failures") << 6
                                  << QStringList{retry.arg(1), retry.arg(2), retry.arg(3),
                                                 retry.arg(4), retry.arg(5), "Update failed (112)"};
}

void TestUpdateSequence::shouldRetryFailedFileUpToFiveTimes()
{
    QFETCH(int, failures);
    QFETCH(QStringList, outcomes);
    DialogRig rig;
    const int disk = rig.host().AddCalculator("A1");
    // A transfer fails when one chunk fails all of its 7 write attempts.
    rig.host().EditDisk(disk,
                        [failures](TestHost::Disk& d) { d.dataWriteFault.times = 7 * failures; });
    rig.addUpdateSet();
    CCalcFWUpdateMSDialog& dialog = rig.start();
    Watch watch(rig);
    QTRY_COMPARE_WITH_TIMEOUT(watch.outcomes.size(), outcomes.size(), kUpdateTimeoutMs);
    QVERIFY(waitForLoopEnd(dialog));

    QCOMPARE(watch.outcomes, outcomes);
    QCOMPARE(rig.line(1), outcomes.last());
    // Every retry is announced, and runs without a new search or countdown.
    QCOMPARE(watch.active, qMin(failures, 5) + 1);
    QCOMPARE(watch.found, 1);
    // The last failure ends the update before the worker would pause for another attempt.
    QCOMPARE(rig.paced.pausesOf(3000), qMin(failures, 5));
    QCOMPARE(dialog.worker->retryCount.load(), failures == 6 ? 6 : 0);
    QVERIFY(dialog.isVisible());
    QVERIFY(!dialog.cancelButton->isVisible());
    QCOMPARE(dialog.findChild<QTimer*>("exitTimer") != nullptr, failures < 6);
}

void TestUpdateSequence::shouldStartEarlyWhenButtonPressedDuringCountdown_data()
{
    QTest::addColumn<int>("pressAt");
    QTest::addColumn<QStringList>("buttons");
    QTest::newRow("at 3 seconds") << 2 << QStringList{"Start - 4", "Start - 3", "Start - 3"};
    // The countdown has reached 0 but the transfer has not begun: "Start" still starts.
    QTest::newRow("at 0 seconds") << 6 << QStringList{"Start - 4", "Start - 3", "Start - 2",
                                                      "Start - 1", "Start - 0", "Start - 0"};
}

void TestUpdateSequence::shouldStartEarlyWhenButtonPressedDuringCountdown()
{
    QFETCH(int, pressAt);
    QFETCH(QStringList, buttons);
    DialogRig rig;
    rig.host().AddCalculator("A1");
    rig.addUpdateSet();
    CCalcFWUpdateMSDialog& dialog = rig.start();
    Watch watch(rig);
    QString lineAtPress;
    watch.onStart = [&] {
        if (watch.buttons.size() == pressAt) {
            lineAtPress = rig.line(1);
            dialog.cancelButton->click();
        }
    };
    QTRY_COMPARE_WITH_TIMEOUT(rig.line(1), QString("Done"), kUpdateTimeoutMs);
    QCOMPARE(watch.buttons, buttons);
    QCOMPARE(rig.paced.pausesOf(1000), buttons.size());
    QCOMPARE(lineAtPress, pressAt < 6 ? QString::fromUtf8("Waiting to start…") : QString());
    QVERIFY(dialog.isVisible());
}

void TestUpdateSequence::shouldAbortAndCloseWhenCancelledBeforeStartIsOffered_data()
{
    QTest::addColumn<bool>("calculator");
    QTest::newRow("while polling") << false;
    QTest::newRow("calculator found, no countdown shown yet") << true;
}

void TestUpdateSequence::shouldAbortAndCloseWhenCancelledBeforeStartIsOffered()
{
    QFETCH(bool, calculator);
    DialogRig rig;
    const int disk = calculator ? rig.host().AddCalculator("A1") : -1;
    rig.addUpdateSet();
    CCalcFWUpdateMSDialog& dialog = rig.start();
    Watch watch(rig);
    QString button, lineBefore, shown;
    auto press = [&] {
        button = rig.buttonText();
        lineBefore = rig.line(1);
        dialog.cancelButton->click();
        shown = rig.line(1);
    };
    if (calculator) {
        watch.onFound = press;
    } else {
        QTRY_VERIFY(rig.line(1).startsWith("Waiting for connection..."));
        QTimer::singleShot(0, &dialog, press);
    }
    QCOMPARE(runLoopUntilLastWindowCloses(), 0);
    QCOMPARE(button, QString("Cancel"));
    QVERIFY(lineBefore.isEmpty() || lineBefore.startsWith("Waiting for connection"));
    QCOMPARE(shown, QString("Update aborted"));
    QVERIFY(!dialog.isVisible());
    QVERIFY(dialog.worker->stopRequested);
    QVERIFY(waitForLoopEnd(dialog));
    QCoreApplication::processEvents();
    QCOMPARE(rig.line(1), QString("Update aborted"));
    QCOMPARE(dataWrites(rig.host()), 0);
    if (calculator) // it leaves update mode as the window goes
        QCOMPARE(finishCommands(rig.host(), disk), 1);
}

void TestUpdateSequence::shouldRefuseToCloseFromFirstTransferToOutcome_data()
{
    QTest::addColumn<QString>("moment");
    QTest::addColumn<QString>("way");
    QTest::addColumn<bool>("refused");
    QTest::newRow("close during a transfer") << "progress"
                                             << "close" << true;
    QTest::newRow("Escape during a transfer") << "progress"
                                              << "Escape" << true;
    QTest::newRow("reject during a transfer") << "progress"
                                              << "reject" << true;
    QTest::newRow("close between two files") << "inactive"
                                             << "close" << true;
    QTest::newRow("done between two files") << "inactive"
                                            << "done" << true;
    QTest::newRow("close in the pause before a retry") << "failed"
                                                       << "close" << true;
    QTest::newRow("Escape in the pause before a retry") << "failed"
                                                        << "Escape" << true;
    QTest::newRow("close during the countdown") << "countdown"
                                                << "close" << false;
    QTest::newRow("Escape during the countdown") << "countdown"
                                                 << "Escape" << false;
}

void TestUpdateSequence::shouldRefuseToCloseFromFirstTransferToOutcome()
{
    QFETCH(QString, moment);
    QFETCH(QString, way);
    QFETCH(bool, refused);
    DialogRig rig;
    const int disk = rig.host().AddCalculator("A1");
    if (moment == "failed")
        rig.host().EditDisk(disk, [](TestHost::Disk& d) { d.dataWriteFault.times = 7; });
    rig.addUpdateSet();
    CCalcFWUpdateMSDialog& dialog = rig.start();
    Watch watch(rig);
    bool tried = false, stillOpen = false;
    auto tryClose = [&] {
        if (tried)
            return;
        tried = true;
        if (way == "close")
            dialog.close();
        else if (way == "Escape")
            QTest::keyClick(&dialog, Qt::Key_Escape);
        else if (way == "reject")
            dialog.reject();
        else
            dialog.done(QDialog::Accepted);
        stillOpen = dialog.isVisible();
    };
    if (moment == "progress")
        watch.onProgress = tryClose;
    else if (moment == "countdown")
        watch.onStart = tryClose;
    else
        watch.onInactive = tryClose;
    QTRY_VERIFY_WITH_TIMEOUT(tried, kUpdateTimeoutMs);
    QCOMPARE(stillOpen, refused);
    if (refused) { // and the update goes on to its end in the window
        QTRY_COMPARE_WITH_TIMEOUT(rig.line(1), QString("Done"), kUpdateTimeoutMs);
        QVERIFY(dialog.isVisible());
    }
}

void TestUpdateSequence::shouldRestartUpdateFromBrowsedFolder()
{
    DialogRig rig;
    const int disk = rig.host().AddCalculator("A1");
    rig.addFile("ZENTA_OS.ROM");
    const QString complete = rig.addFile("complete/");
    rig.addUpdateSet(
        {"complete/ZENTA_APP.DAT", "complete/ZENTA_OS.ROM", "complete/ZENTA_KESTOL.DAT"});
    CCalcFWUpdateMSDialog& dialog = rig.start();
    QCOMPARE(rig.line(1), QString("No updates are available"));
    QVERIFY(waitForLoopEnd(dialog));
    // The calculator stays in update mode for a folder the user may still pick.
    QCoreApplication::processEvents();
    QCOMPARE(finishCommands(rig.host(), disk), 0);

    Watch watch(rig);
    answerFolderBrowser(complete, true);
    dialog.browseButton->click();
    QVERIFY(dialog.progressBar->isVisible());
    QCOMPARE(rig.buttonText(), QString("Cancel"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.line(1), QString("Done"), kUpdateTimeoutMs);
    QTRY_COMPARE(finishCommands(rig.host(), disk), 1);
    QCOMPARE(watch.found, 1);
    QCOMPARE(watch.buttons.first(), QString("Start - 4"));
    QVERIFY(watch.barShownInTransfer);
    for (const QString& name : kNewSet)
        QVERIFY(rig.calculatorHolds(disk, "complete/" + name, diskOffsetFor(name)));
}

void TestUpdateSequence::shouldSendFinishWhenWindowClosesAfterNothingToDo()
{
    DialogRig rig;
    const int disk = rig.host().AddCalculator("A1");
    rig.addFile("ZENTA_OS.ROM");
    CCalcFWUpdateMSDialog& dialog = rig.start();
    QCOMPARE(rig.line(1), QString("No updates are available"));
    QVERIFY(waitForLoopEnd(dialog));
    QCoreApplication::processEvents();
    QCOMPARE(finishCommands(rig.host(), disk), 0);

    QCOMPARE(closeInLoop(dialog), 0);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(finishCommands(rig.host(), disk), 1);
}

void TestUpdateSequence::shouldShowFailureOfStepThatThrows_data()
{
    QTest::addColumn<int>("pause"); // the worker's first pause of this length throws
    QTest::addColumn<bool>("transferRan");
    QTest::newRow("during the countdown") << 1000 << false;
    QTest::newRow("right before the first transfer") << 250 << false;
    QTest::newRow("after the first file") << 100 << true;
}

void TestUpdateSequence::shouldShowFailureOfStepThatThrows()
{
    QFETCH(int, pause);
    QFETCH(bool, transferRan);
    DialogRig rig;
    const int disk = rig.host().AddCalculator("A1");
    rig.addUpdateSet();
    std::atomic<bool> thrown{false};
    rig.paced.beforeSleep = [&](int ms) {
        if (ms == pause && onWorkerThread() && !thrown.exchange(true))
            throw std::runtime_error("a step failed");
    };
    CCalcFWUpdateMSDialog& dialog = rig.start();
    QTRY_COMPARE_WITH_TIMEOUT(rig.line(1), QString("Update failed (-2)"), kUpdateTimeoutMs);
    QVERIFY(!dialog.busy);
    QVERIFY(!dialog.cancelButton->isVisible() && !dialog.progressBar->isVisible());
    QCOMPARE(dialog.findChild<QTimer*>("exitTimer"), nullptr);
    QCOMPARE(dataWrites(rig.host()) > 0, transferRan);
    // After a transfer the calculator leaves update mode at once; else as the window goes.
    QTRY_COMPARE(finishCommands(rig.host(), disk), transferRan ? 1 : 0);

    QCOMPARE(closeInLoop(dialog), 0);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(finishCommands(rig.host(), disk), 1);
}

void TestUpdateSequence::shouldShowReasonOfFailedUpdate()
{
    DialogRig rig;
    rig.addUpdateSet();
    CCalcFWUpdateMSDialog& dialog = rig.start();
    const QString reason =
        "ZENTA_OS.ROM: 2097152 bytes, but its place on the calculator holds 1048576";
    QTRY_VERIFY(rig.line(1).startsWith("Waiting for connection..."));
    emit dialog.worker->updateFailed(111, reason); // as the worker's check of the set does
    QCOMPARE(rig.line(1), QString("Update failed (111)"));
    QCOMPARE(rig.line(2), reason);
    QVERIFY(rig.line(3).isEmpty());
    QVERIFY(!dialog.busy && !dialog.cancelButton->isVisible());
}

void TestUpdateSequence::shouldRefuseWholeSetBeforeFirstByte_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("result");
    QTest::newRow("last file cannot be opened") << "open" << 105;
    QTest::newRow("last file cannot be read") << "read" << 109;
    QTest::newRow("applications image past the disk's end") << "disk" << 111;
}

// The last file's fault shows only when its turn would come: the first two must not be written.
void TestUpdateSequence::shouldRefuseWholeSetBeforeFirstByte()
{
    QFETCH(QString, fault);
    QFETCH(int, result);
    DialogRig rig;
    const int disk = rig.host().AddCalculator("A1");
    rig.addUpdateSet();
    const int recorded = refusalsInHistory();
    CCalcFWUpdateMSDialog& dialog = rig.start();
    QCOMPARE(dialog.updateFiles.size(), 3);
    const CUpdateFile* last = rig.breakSet(disk, fault);
    QTRY_VERIFY_WITH_TIMEOUT(rig.line(1).startsWith("Update failed"), kUpdateTimeoutMs);
    QCOMPARE(rig.line(1), QString("Update failed (%1)").arg(result));
    QVERIFY2(rig.line(2).contains(fault == "disk" ? "ZENTA_APP.DAT" : last->fileName),
             qPrintable(rig.line(2)));
    QCOMPARE(dataWrites(rig.host()), 0);
    for (const auto& e : rig.host().EventsOf(disk))
        QVERIFY(e.op != TestHost::Op::Command);
    QVERIFY(!dialog.busy);
    // In the history at once, not only once the window closes: an update started from another
    // folder first must not take its place.
    QTRY_COMPARE(refusalsInHistory(), recorded + 1);
    dialog.close();
    QTRY_COMPARE(finishCommands(rig.host(), disk), 1);
}

// A file rewritten in place after the check (same size, other bytes) fails every attempt.
void TestUpdateSequence::shouldNeverEndOnDoneWhenFileChangesAfterCheck()
{
    DialogRig rig;
    rig.host().AddCalculator("A1");
    rig.addUpdateSet();
    CCalcFWUpdateMSDialog& dialog = rig.start();
    const std::string second = dialog.updateFiles.at(1)->path.toStdString();
    QObject::connect(dialog.worker, &CUpdateWorker::updaterRan, &dialog, [&](int result) {
        if (result == 0)
            rig.host().EditSourceFile(second, [](TestHost::SourceFile& f) { f.data[5] ^= 0xFF; });
    });
    QTRY_COMPARE_WITH_TIMEOUT(rig.line(1), QString("Update failed (109)"), kUpdateTimeoutMs);
    QCOMPARE(dialog.currentFile, 1);
    QCOMPARE(dialog.worker->retryCount.load(), 6);
}

// Reports the loop sent before it saw its stop arrive after the outcome.
void TestUpdateSequence::shouldKeepOutcomeAgainstReportsOfStoppedLoop()
{
    DialogRig rig;
    rig.addFile("ZENTA_OS.ROM");
    CCalcFWUpdateMSDialog& dialog = rig.start();
    QCOMPARE(rig.line(1), QString("No updates are available"));
    CUpdateWorker* worker = dialog.worker;
    emit worker->waitingTicks(2);
    emit worker->foundDevice();
    emit worker->waitingStart();
    emit worker->downloadActive();
    QCOMPARE(rig.line(1), QString("No updates are available"));
    QCOMPARE(dialog.countdownMs.load(), 0);
    QVERIFY(!dialog.busy);
    dialog.close();
    QVERIFY(!dialog.isVisible());
}

// Grabs the window in each phase of an update; with QUILLON_SCREENSHOTS set to a folder, the
// images are kept there for a look.
void TestUpdateSequence::shouldRenderEveryPhase()
{
    DialogRig rig;
    rig.addUpdateSet();
    CCalcFWUpdateMSDialog& dialog = rig.start();
    const QString folder = qEnvironmentVariable("QUILLON_SCREENSHOTS");
    QStringList phases;
    auto grab = [&](const QString& phase) {
        const QImage image = dialog.grab().toImage();
        QVERIFY(image.width() >= 525);
        QVERIFY(image.height() > 100);
        phases << phase;
        if (!folder.isEmpty())
            image.save(QString("%1/%2-%3.png").arg(folder).arg(phases.size()).arg(phase));
    };
    grab("scanned");
    Watch watch(rig);
    watch.onStart = [&] {
        if (watch.buttons.size() == 2)
            grab("countdown");
    };
    int progressSeen = 0;
    watch.onProgress = [&] {
        if (++progressSeen == 2)
            grab("transfer");
    };
    watch.onRan = [&] {
        if (watch.outcomes.size() == 1)
            grab("first-file-done");
    };
    QTRY_VERIFY_WITH_TIMEOUT(rig.line(1).startsWith("Waiting for connection..."), 5000);
    grab("waiting");
    rig.host().AddCalculator("A1");
    QTRY_COMPARE_WITH_TIMEOUT(rig.line(1), QString("Done"), kUpdateTimeoutMs);
    grab("done");
    QCOMPARE(phases, (QStringList{"scanned", "waiting", "countdown", "transfer", "first-file-done",
                                  "done"}));
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    TestUpdateSequence test;
    return QTest::qExec(&test, argc, argv);
}

void TestUpdateSequence::shouldSayWhenMoreCalculatorsAreThereThanUpdated_data()
{
    QTest::addColumn<int>("calculators");
    QTest::addColumn<QString>("updating");
    QTest::addColumn<QString>("notice");
    QTest::newRow("one") << 1 << "Updating 1 calculator" << QString();
    QTest::newRow("sixteen") << 16 << "Updating 16 calculators" << QString();
    QTest::newRow("seventeen") << 17 << "Updating 16 calculators"
                               << "17 calculators are connected, but only 16 are updated at a "
                                  "time: update the others afterwards.";
}

void TestUpdateSequence::shouldSayWhenMoreCalculatorsAreThereThanUpdated()
{
    QFETCH(int, calculators);
    QFETCH(QString, updating);
    QFETCH(QString, notice);
    DialogRig rig;
    for (int i = 0; i < calculators; ++i)
        rig.host().AddCalculator(QString("C%1").arg(i, 2, 10, QChar('0')).toStdString());
    rig.addUpdateSet();
    CCalcFWUpdateMSDialog& dialog = rig.start();
    Watch watch(rig);
    QStringList counts, notices;
    watch.onProgress = [&] {
        counts << rig.line(2);
        notices << rig.line(4);
    };
    QTRY_COMPARE_WITH_TIMEOUT(rig.line(1), QString("Done"), kUpdateTimeoutMs);
    QVERIFY(!counts.isEmpty());
    QCOMPARE(QSet<QString>(counts.begin(), counts.end()), QSet<QString>{updating});
    QCOMPARE(QSet<QString>(notices.begin(), notices.end()), QSet<QString>{notice});
    // Still said when the update is done; the counts of the transfer are not.
    QCOMPARE(rig.line(4), notice);
    QVERIFY(rig.line(2).isEmpty());
    QVERIFY(dialog.findChild<QTimer*>("exitTimer") != nullptr);
}

// The hint of a failure does not hide that the calculators past sixteen got nothing.
void TestUpdateSequence::shouldStillSayCalculatorsWereLeftOutAfterFailure()
{
    DialogRig rig;
    for (int i = 0; i < 17; ++i)
        rig.host().AddCalculator(QString("C%1").arg(i, 2, 10, QChar('0')).toStdString());
    rig.host().EditDisk(0, [](TestHost::Disk& d) { d.dataWriteFault = {0, -1}; });
    rig.addUpdateSet();
    CCalcFWUpdateMSDialog& dialog = rig.start();
    QTRY_COMPARE_WITH_TIMEOUT(rig.line(1), QString("Update failed (112)"), kUpdateTimeoutMs);
    QVERIFY(waitForLoopEnd(dialog));
    QVERIFY2(rig.line(4).startsWith("The connection to the calculator broke"),
             qPrintable(rig.line(4)));
    QVERIFY2(rig.line(4).contains("17 calculators are connected, but only 16 are updated"),
             qPrintable(rig.line(4)));
}

void TestUpdateSequence::shouldHintAtUpdateModeAfterHalfAMinuteOfWaiting()
{
    DialogRig rig;
    rig.addUpdateSet();
    CCalcFWUpdateMSDialog& dialog = rig.start();
    QTRY_VERIFY_WITH_TIMEOUT(rig.line(1).startsWith("Waiting for connection"), kUpdateTimeoutMs);
    auto* timer = dialog.findChild<QTimer*>("waitingHintTimer");
    QVERIFY(timer != nullptr && timer->isActive() && timer->isSingleShot());
    QCOMPARE(timer->interval(), 30000);
    QVERIFY(rig.line(4).isEmpty());
    // Half a minute on: the timer's end now.
    QMetaObject::invokeMethod(timer, "timeout");
    const QString hint("No calculator yet: put it into update mode and plug it straight into "
                       "this computer, not into a hub.");
    QCOMPARE(rig.line(4), hint);
    // All of its lines in view: the window grows to them.
    QLabel* hintLine = dialog.textLines[3];
    QTRY_VERIFY(hintLine->height() >= hintLine->heightForWidth(hintLine->width()));
    // More than one line wherever texts have a width (not on the minimal platform plugin).
    if (hintLine->fontMetrics().horizontalAdvance(hint) > dialog.width())
        QVERIFY(hintLine->heightForWidth(hintLine->width()) > dialog.textLines[0]->height());
    // The dots go on moving under it, and the hint stays until the calculator is there.
    const QString dots = rig.line(1);
    QTRY_VERIFY_WITH_TIMEOUT(rig.line(1) != dots, kUpdateTimeoutMs);
    QCOMPARE(rig.line(4), hint);
    QVERIFY(!timer->isActive());
    Watch watch(rig);
    rig.host().AddCalculator("A1");
    QTRY_COMPARE_WITH_TIMEOUT(watch.found, 1, kUpdateTimeoutMs);
    QVERIFY(rig.line(4).isEmpty());
    QVERIFY(!timer->isActive());
    // Nor does the "waiting" line the worker still shows for a moment after the find.
    QTRY_VERIFY_WITH_TIMEOUT(!watch.buttons.isEmpty(), kUpdateTimeoutMs);
    QVERIFY(!timer->isActive());
}

#include "tst_updatesequence.moc"
