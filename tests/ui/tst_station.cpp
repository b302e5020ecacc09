// The window as a station: each wave's outcome and the running count between waves, the settle
// countdown on the button, and a window that closes only between waves.
#include "dialog_rig.h"

#include "update/update_files.h"
#include "worker/update_worker.h"

#include <QApplication>
#include <QDir>
#include <QProgressBar>
#include <QTimer>
#include <QtTest>

namespace {

constexpr int kTimeoutMs = 20000;
const QStringList kNewSet{"ZENTA_APP.DAT", "ZENTA_OS.ROM", "ZENTA_KESTOL.DAT"};

// What the user saw at the station's reports, read right after the dialog's own slot ran (it
// connected first).
struct StationWatch {
    QStringList buttons;    // the button after each waitingStart
    QStringList waveLines;  // line 2 after each waveStarted
    int ended = 0;          // waves over
    int ran = 0;            // attempts reported
    int ticksSinceWave = 0; // polls without a wave coming since the latest wave ended
    std::function<void()> onStart, onWaveStarted, onProgress, onInactive, onRan, onEnded, onTicks;

    explicit StationWatch(DialogRig& rig)
    {
        CCalcFWUpdateMSDialog* d = &rig.dialog();
        CUpdateWorker* w = d->worker;
        QObject::connect(w, &CUpdateWorker::waitingStart, d, [this, &rig] {
            buttons << rig.buttonText();
            call(onStart);
        });
        QObject::connect(w, &CUpdateWorker::waveStarted, d, [this, &rig] {
            waveLines << rig.line(2);
            call(onWaveStarted);
        });
        QObject::connect(d, &CCalcFWUpdateMSDialog::updateProgress, d,
                         [this] { call(onProgress); });
        QObject::connect(w, &CUpdateWorker::downloadInactive, d, [this] { call(onInactive); });
        QObject::connect(w, &CUpdateWorker::updaterRan, d, [this] {
            ++ran;
            call(onRan);
        });
        QObject::connect(w, &CUpdateWorker::waveEnded, d, [this] {
            ++ended;
            ticksSinceWave = 0;
            call(onEnded);
        });
        QObject::connect(w, &CUpdateWorker::waitingTicks, d, [this] {
            ++ticksSinceWave;
            call(onTicks);
        });
    }
    static void call(const std::function<void()>& f)
    {
        if (f)
            f();
    }
};

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

bool holdsUpdate(DialogRig& rig, int disk)
{
    for (const QString& name : kNewSet) {
        if (!rig.calculatorHolds(disk, name, diskOffsetFor(name)))
            return false;
    }
    return true;
}

// Runs the application's loop until something ends it; a loop that nothing ends gives -1.
int runLoop()
{
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    guard.start(kTimeoutMs);
    return QApplication::exec();
}

// As the program runs it: closing the last window ends the loop.
int runLoopUntilLastWindowCloses()
{
    QApplication::setQuitOnLastWindowClosed(true);
    const int code = runLoop();
    QApplication::setQuitOnLastWindowClosed(false);
    return code;
}

// The test's own end of the loop, which nothing of the window gives.
constexpr int kEndedByTest = 42;

} // namespace

class TestStation : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void shouldShowTallyBetweenWavesAndStayOpen_data();
    void shouldShowTallyBetweenWavesAndStayOpen();
    void shouldCloseOnlyBetweenWaves_data();
    void shouldCloseOnlyBetweenWaves();
    void shouldStartWaveEarlyFromSettleCountdown();
    void shouldShowReasonOfRefusedWave();
};

void TestStation::shouldShowTallyBetweenWavesAndStayOpen_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QStringList>("waveLines");
    QTest::addColumn<QStringList>("tallies");
    QTest::addColumn<QStringList>("outcomes");
    QTest::addColumn<QString>("waiting");
    QTest::newRow("English") << 1
                             << QStringList{"Wave 1: updating 1 calculator",
                                            "Wave 2: updating 2 calculators"}
                             << QStringList{"Updated: 1, failed: 0, waiting: 0",
                                            "Updated: 3, failed: 0, waiting: 0"}
                             << QStringList{"Wave 1 done. Plug in the next calculators.",
                                            "Wave 2 done. Plug in the next calculators."}
                             << "Waiting for connection";
    QTest::newRow("German") << 4
                            << QStringList{"Welle 1: 1 Rechner wird aktualisiert",
                                           "Welle 2: 2 Rechner werden aktualisiert"}
                            << QStringList{"Aktualisiert: 1, fehlgeschlagen: 0, wartend: 0",
                                           "Aktualisiert: 3, fehlgeschlagen: 0, wartend: 0"}
                            << QStringList{QString::fromUtf8("Welle 1 fertig. Schließen Sie die "
                                                             "nächsten Rechner an."),
                                           QString::fromUtf8("Welle 2 fertig. Schließen Sie die "
                                                             "nächsten Rechner an.")}
                            << "Warten auf Verbindung";
}

// Wave 1 updates one calculator, wave 2 the two plugged in after it; the window never ends by
// itself. With QUILLON_SCREENSHOTS set to a folder, the window between the waves is kept there
// as station.png.
void TestStation::shouldShowTallyBetweenWavesAndStayOpen()
{
    QFETCH(int, language);
    QFETCH(QStringList, waveLines);
    QFETCH(QStringList, tallies);
    QFETCH(QStringList, outcomes);
    QFETCH(QString, waiting);
    DialogRig rig;
    QVector<int> disks{rig.host().AddCalculator("A1")};
    rig.addUpdateSet();
    CCalcFWUpdateMSDialog& dialog = rig.start(language, true, true);
    StationWatch watch(rig);
    QStringList shownTallies, shownOutcomes;
    bool wholeLines = false, oneLine = false;
    watch.onEnded = [&] {
        shownTallies << rig.line(2);
        shownOutcomes << rig.line(4);
        if (watch.ended == 1) {
            disks << rig.host().AddCalculator("B2");
            disks << rig.host().AddCalculator("C3");
        }
    };
    // Ten polls after the second wave: 5 s, where the window's own update ends 3 s after "Done".
    watch.onTicks = [&] {
        if (watch.ended != 2 || watch.ticksSinceWave != 10)
            return;
        wholeLines = showsWholeLine(dialog, 2) && showsWholeLine(dialog, 4);
        // The count is not split: it takes the height it takes on a line of any length.
        const QLabel* tally = dialog.textLines[1];
        oneLine = tally->heightForWidth(tally->width()) == tally->heightForWidth(QWIDGETSIZE_MAX);
        const QString folder = qEnvironmentVariable("QUILLON_SCREENSHOTS");
        if (!folder.isEmpty() && language == 1)
            dialog.grab().save(QDir(folder).filePath("station.png"));
        QCoreApplication::exit(kEndedByTest);
    };
    QCOMPARE(runLoop(), kEndedByTest);

    QCOMPARE(watch.waveLines, waveLines);
    QCOMPARE(shownTallies, tallies);
    QCOMPARE(shownOutcomes, outcomes);
    // Between the waves: the count and the outcome stay, the first line polls, the button
    // cancels again, and neither a file nor a bar is shown.
    QVERIFY(wholeLines);
    QVERIFY(oneLine);
    QCOMPARE(rig.line(2), tallies.last());
    QCOMPARE(rig.line(4), outcomes.last());
    QVERIFY2(rig.line(1).startsWith(waiting), qPrintable(rig.line(1)));
    QVERIFY(rig.line(3).isEmpty());
    QVERIFY(dialog.isVisible());
    QVERIFY(dialog.cancelButton->isVisible() && dialog.cancelButton->isEnabled());
    QCOMPARE(rig.buttonText(), dialog.translate("Cancel", 2));
    QVERIFY(!dialog.progressBar->isVisible());
    QCOMPARE(dialog.findChild<QTimer*>("exitTimer"), nullptr);
    for (int disk : disks) {
        QVERIFY(holdsUpdate(rig, disk));
        QCOMPARE(finishCommands(rig.host(), disk), 1);
    }
}

void TestStation::shouldCloseOnlyBetweenWaves_data()
{
    QTest::addColumn<QString>("moment");
    QTest::addColumn<QString>("way");
    QTest::addColumn<bool>("closes");
    QTest::newRow("close during the settle") << "settle"
                                             << "close" << true;
    QTest::newRow("Escape during the settle") << "settle"
                                              << "Escape" << true;
    QTest::newRow("close as the wave begins") << "wave"
                                              << "close" << false;
    QTest::newRow("close during a transfer") << "progress"
                                             << "close" << false;
    QTest::newRow("Escape during a transfer") << "progress"
                                              << "Escape" << false;
    QTest::newRow("Cancel during a transfer") << "progress"
                                              << "Cancel" << false;
    QTest::newRow("close between two files") << "inactive"
                                             << "close" << false;
    QTest::newRow("close in the pause before a retry") << "retry"
                                                       << "close" << false;
    QTest::newRow("close before the wave's finish command") << "last file"
                                                            << "close" << false;
    QTest::newRow("close between waves") << "ended"
                                         << "close" << true;
    QTest::newRow("Escape between waves") << "ended"
                                          << "Escape" << true;
    QTest::newRow("Cancel between waves") << "ended"
                                          << "Cancel" << true;
}

// A refused close is tried again once the wave has ended, which must then close the window.
void TestStation::shouldCloseOnlyBetweenWaves()
{
    QFETCH(QString, moment);
    QFETCH(QString, way);
    QFETCH(bool, closes);
    DialogRig rig;
    const int disk = rig.host().AddCalculator("A1");
    if (moment == "retry")
        rig.host().EditDisk(disk, [](TestHost::Disk& d) { d.dataWriteFault.times = 7; });
    rig.addUpdateSet();
    CCalcFWUpdateMSDialog& dialog = rig.start(1, true, true);
    StationWatch watch(rig);
    bool tried = false, stillOpen = false;
    int endedAtTry = -1;
    auto tryClose = [&] {
        if (tried)
            return;
        tried = true;
        endedAtTry = watch.ended;
        if (way == "close")
            dialog.close();
        else if (way == "Escape")
            QTest::keyClick(&dialog, Qt::Key_Escape);
        else
            dialog.cancelButton->click();
        stillOpen = dialog.isVisible();
    };
    if (moment == "settle")
        watch.onStart = tryClose;
    else if (moment == "wave")
        watch.onWaveStarted = tryClose;
    else if (moment == "progress")
        watch.onProgress = tryClose;
    else if (moment == "inactive" || moment == "retry")
        watch.onInactive = tryClose;
    else if (moment == "last file")
        watch.onRan = [&] {
            if (watch.ran == 3)
                tryClose();
        };
    watch.onEnded = [&] {
        if (moment == "ended")
            tryClose();
        else
            dialog.close();
    };
    QCOMPARE(runLoopUntilLastWindowCloses(), 0);

    QVERIFY(tried);
    QCOMPARE(stillOpen, !closes);
    QVERIFY(!dialog.isVisible());
    if (moment == "settle") { // before any wave: nothing written, and no finish command
        QCOMPARE(dataWrites(rig.host()), 0);
        QCOMPARE(finishCommands(rig.host(), disk), 0);
        return;
    }
    // The wave went on to its end in the window; the close sent no finish command of its own.
    QCOMPARE(endedAtTry, moment == "ended" ? 1 : 0);
    QCOMPARE(watch.ended, 1);
    QVERIFY(holdsUpdate(rig, disk));
    QCOMPARE(finishCommands(rig.host(), disk), 1);
}

// Cancel during the settle starts the wave at the next poll, as during the window's own
// countdown; it does not close the window.
void TestStation::shouldStartWaveEarlyFromSettleCountdown()
{
    DialogRig rig;
    const int disk = rig.host().AddCalculator("A1");
    rig.addUpdateSet();
    CCalcFWUpdateMSDialog& dialog = rig.start(1, true, true);
    StationWatch watch(rig);
    QString lineAtPress;
    watch.onStart = [&] {
        if (watch.buttons.size() == 2) {
            lineAtPress = rig.line(1);
            dialog.cancelButton->click();
        }
    };
    watch.onEnded = [] { QCoreApplication::exit(kEndedByTest); };
    QCOMPARE(runLoop(), kEndedByTest);
    QCOMPARE(watch.buttons, (QStringList{"Start - 5", "Start - 4"}));
    QCOMPARE(lineAtPress, QString::fromUtf8("Waiting to start…"));
    QVERIFY(dialog.isVisible());
    QVERIFY(holdsUpdate(rig, disk));
    QCOMPARE(rig.line(4), QString("Wave 1 done. Plug in the next calculators."));
}

// A file changed after wave 1: wave 2 is refused, says why, writes nothing, and the station
// waits on with its calculator counted as waiting.
void TestStation::shouldShowReasonOfRefusedWave()
{
    DialogRig rig;
    const int a = rig.host().AddCalculator("A1");
    rig.addUpdateSet();
    CCalcFWUpdateMSDialog& dialog = rig.start(1, true, true);
    StationWatch watch(rig);
    int b = -1;
    QString outcome, reason, tally;
    watch.onEnded = [&] {
        if (watch.ended == 1) {
            std::string system;
            for (const CUpdateFile* file : dialog.updateFiles)
                system = file->fileName == "ZENTA_OS.ROM" ? file->path.toStdString() : system;
            rig.host().EditSourceFile(system, [](TestHost::SourceFile& f) { f.data[5] ^= 0xFF; });
            b = rig.host().AddCalculator("B2");
            return;
        }
        outcome = rig.line(1);
        reason = rig.line(4);
        tally = rig.line(2);
    };
    watch.onTicks = [&] {
        if (watch.ended == 2 && watch.ticksSinceWave == 3)
            QCoreApplication::exit(kEndedByTest);
    };
    QCOMPARE(runLoop(), kEndedByTest);
    QCOMPARE(outcome, QString("Update failed (109)"));
    QCOMPARE(reason, QString("Wave 2 was refused and nothing was written. Put this right, then "
                             "plug in a calculator to try again: ZENTA_OS.ROM: changed since the "
                             "first wave (nothing written)"));
    QCOMPARE(tally, QString("Updated: 1, failed: 0, waiting: 1"));
    QCOMPARE(rig.line(4), reason);
    QVERIFY(holdsUpdate(rig, a));
    for (const auto& e : rig.host().EventsOf(b))
        QVERIFY(e.op != TestHost::Op::Write && e.op != TestHost::Op::Command);
    QVERIFY(dialog.isVisible() && dialog.cancelButton->isEnabled());
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    TestStation test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_station.moc"
