#include "paced_host.h"
#include "signal_log.h"

#include "device/engine.h"
#include "update/update_history.h"
#include "worker/forwarding.h"
#include "worker/update_worker.h"

#include <QSemaphore>
#include <QtTest>

#include <algorithm>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

const std::string kSource = "/updates/ZENTA_OS.ROM";
constexpr std::int64_t kSourceSize = 40000; // three chunks

// The worker on its own thread, with the two fields the dialog would lend it, and a log that
// answers "found" with the dialog's countdown of 5250 ms.
struct WorkerRig {
    PacedHost paced;
    std::atomic<int> countdownMs{0};
    std::atomic<bool> busy{false};
    QThread thread;
    CUpdateWorker* worker;
    SignalLog* log;
    std::atomic<bool> loopEnded{false};

    explicit WorkerRig(bool station = false)
    {
        worker = new CUpdateWorker(&countdownMs, &busy, station);
        worker->moveToThread(&thread);
        worker->setTarget(QString::fromStdString(kSource), 0x100000);
        log = new SignalLog(worker);
        thread.start();
    }
    ~WorkerRig()
    {
        worker->requestStop();
        paced.release();
        thread.quit();
        thread.wait();
        delete log;
        delete worker;
    }
    TestHost& host() { return paced.host(); }
    void answer(const std::function<void(const QString&)>& more)
    {
        log->onEntry = [this, more](const QString& entry) {
            if (entry == "found")
                countdownMs = 5250;
            if (more)
                more(entry);
        };
    }
    void stopAt(const QString& entry, int times = 1)
    {
        answer([this, entry, times](const QString& e) {
            if (e == entry && log->count(entry) == times)
                worker->requestStop();
        });
    }
    // Runs one of the worker's slots and notes when it has returned.
    void run(const char* slot)
    {
        QMetaObject::invokeMethod(worker, slot, Qt::QueuedConnection);
        markEnd();
    }
    // Notes when everything queued on the worker's thread so far has run.
    void markEnd()
    {
        loopEnded = false;
        QMetaObject::invokeMethod(
            worker, [this] { loopEnded = true; }, Qt::QueuedConnection);
    }
    bool onWorkerThread() const { return QThread::currentThread() == &thread; }
};

QStringList repeated(const QString& entry, int times)
{
    QStringList out;
    for (int i = 0; i < times; ++i)
        out << entry;
    return out;
}

int countOps(const std::vector<TestHost::Event>& events, TestHost::Op op)
{
    int n = 0;
    for (const auto& e : events)
        n += e.op == op ? 1 : 0;
    return n;
}

// A station's worker with the three files of an update on the test host. Each file's bytes are
// its own, so that a file written in another's place shows.
struct StationRig : WorkerRig {
    QVector<UpdateSetEntry> set;
    int file = 0;  // the file the dialog has handed over
    int step = -1; // the step of the attempt reported next

    StationRig() : WorkerRig(true)
    {
        const char* names[] = {"ZENTA_APP.DAT", "ZENTA_OS.ROM", "ZENTA_KESTOL.DAT"};
        const std::int64_t offsets[] = {0x500000, 0, 0x100000};
        const std::int64_t ends[] = {-1, 0x100000, 0x500000};
        for (int i = 0; i < 3; ++i) {
            const QString path = QString("/updates/%1").arg(names[i]);
            host().AddSourceFile(path.toStdString(), bytesOf(i));
            set.append({path, names[i], offsets[i], ends[i]});
        }
        worker->setUpdateSet(set);
        worker->setTarget(set[0].path, set[0].diskOffset);
    }
    static std::vector<unsigned char> bytesOf(int file)
    {
        std::vector<unsigned char> bytes = fileBytes(40000 - 7000 * file);
        for (unsigned char& byte : bytes)
            byte ^= static_cast<unsigned char>(0x11 * (file + 1));
        return bytes;
    }
    // Answers as the dialog does: the next file after an attempt that goes on to it. `more` sees
    // every entry afterwards.
    void play(const std::function<void(const QString&)>& more)
    {
        log->onEntry = [this, more](const QString& entry) {
            if (entry.startsWith("wave ")) {
                file = 0;
            } else if (entry.startsWith("step ")) {
                step = entry.mid(5).toInt();
            } else if (entry.startsWith("ran ") && step == int(UpdateStep::NextFile)) {
                ++file;
                worker->setTarget(set[file].path, set[file].diskOffset);
                worker->state = Transferring;
            }
            if (more)
                more(entry);
        };
    }
    bool holdsFile(int disk, int file)
    {
        const std::vector<unsigned char> bytes = bytesOf(file);
        return host().DiskBytes(disk, set[file].diskOffset, std::int64_t(bytes.size())) == bytes;
    }
    bool holdsUpdate(int disk)
    {
        return holdsFile(disk, 0) && holdsFile(disk, 1) && holdsFile(disk, 2);
    }
    int count(int disk, TestHost::Op op) { return countOps(host().EventsOf(disk), op); }
    int finishes(int disk)
    {
        int n = 0;
        for (const auto& e : host().EventsOf(disk))
            n += e.op == TestHost::Op::Command && e.code == 0xBEC1 ? 1 : 0;
        return n;
    }
    QStringList starting(const QString& prefix) const
    {
        QStringList out;
        for (const QString& entry : log->entries) {
            if (entry.startsWith(prefix))
                out << entry;
        }
        return out;
    }
};

// The latest `count` records of the test run's history.
QVector<QJsonObject> latestRecords(int count)
{
    QVector<QJsonObject> records;
    int unreadable = 0;
    QString error;
    readHistory(&records, &unreadable, &error);
    return records.mid(std::max(0, records.size() - count));
}

} // namespace

// Stands in for the dialog's two signals that the engine's callbacks emit.
class ForwardingReceiver : public QObject {
    Q_OBJECT
public:
    ForwardingReceiver()
    {
        connect(this, &ForwardingReceiver::updateProgress, this,
                [this](int percent) { progress << percent; });
        connect(this, &ForwardingReceiver::updateMessage, this,
                [this](const QString& text) { messages << text; });
    }
    QList<int> progress;
    QStringList messages;
signals:
    void updateProgress(int percent);
    void updateMessage(const QString& text);
};

class TestUpdateWorker : public QObject {
    Q_OBJECT
private slots:
    void shouldTickWhilePolling();
    void shouldCountDownBeforeTransfer_data();
    void shouldCountDownBeforeTransfer();
    void shouldStoreStateBeforeReportingResult_data();
    void shouldStoreStateBeforeReportingResult();
    void shouldRetrySameFileWithoutCountdown();
    void shouldStopOnlyBetweenSteps_data();
    void shouldStopOnlyBetweenSteps();
    void shouldEndLoopOnException();
    void shouldForwardProgressAndCopiedMessage();
    void shouldHandEngineWholePath_data();
    void shouldHandEngineWholePath();
    void shouldRestartFromSearching();
    void shouldNotRestartWhenStoppedFirst();
    void shouldWakeFromPauseOnStop_data();
    void shouldWakeFromPauseOnStop();
    void shouldSendFinishOnWorkerThreadAfterStop_data();
    void shouldSendFinishOnWorkerThreadAfterStop();
    void shouldShowSlowestCalculatorsProgress();
    void shouldWriteEachWaveToItsOwnCalculatorsOnly();
    void shouldSettleFromLatestArrival_data();
    void shouldSettleFromLatestArrival();
    void shouldWaitForNewCalculatorAfterRefusedWave();
    void shouldNotLetBrokenCalculatorHoldBackItsWave();
    void shouldEndStationWhenFirstCheckRefusesSet();
};

void TestUpdateWorker::shouldTickWhilePolling()
{
    WorkerRig rig;
    rig.stopAt("ticks 1", 2);
    rig.run("process");
    QTRY_VERIFY_WITH_TIMEOUT(rig.loopEnded, 2000);
    QCOMPARE(rig.log->entries.join(", "),
             QString("ticks 1, ticks 2, ticks 3, ticks 4, ticks 0, ticks 1"));
    // One enumeration per poll, and a half-second pause after each, the first one included.
    const auto events = rig.host().Events();
    QCOMPARE(countOps(events, TestHost::Op::Enumerate), 6);
    QCOMPARE(rig.paced.pausesOf(500), 7);
    QCOMPARE(rig.host().SleptMs(), 3500);
}

void TestUpdateWorker::shouldCountDownBeforeTransfer_data()
{
    QTest::addColumn<int>("pressedAt");
    QTest::addColumn<int>("starts");
    QTest::newRow("full countdown") << 0 << 6;
    QTest::newRow("button at the first second") << 1 << 2;
    QTest::newRow("button at the third second") << 3 << 4;
    QTest::newRow("button at the last second") << 5 << 6;
}

void TestUpdateWorker::shouldCountDownBeforeTransfer()
{
    QFETCH(int, pressedAt);
    QFETCH(int, starts);
    WorkerRig rig;
    rig.host().AddCalculator("A1");
    rig.host().AddSourceFile(kSource, fileBytes(kSourceSize));
    QList<int> left;
    rig.answer([&](const QString& entry) {
        if (entry == "start") {
            left << rig.countdownMs;
            if (rig.log->count("start") == pressedAt)
                rig.countdownMs = 1000; // what the dialog's button does
        }
        if (entry == "inactive")
            rig.worker->requestStop();
    });
    rig.run("process");
    QTRY_VERIFY_WITH_TIMEOUT(rig.loopEnded, 2000);

    const QStringList expected = QStringList{"found", "ticks 1"} + repeated("start", starts) +
                                 QStringList{"active", "ran 0", "inactive"};
    QCOMPARE(rig.log->entries.join(", "), expected.join(", "));
    if (pressedAt == 0)
        QCOMPARE(left, (QList<int>{4250, 3250, 2250, 1250, 250, 0}));
    QCOMPARE(left.last(), 0);
    QCOMPARE(rig.paced.pausesOf(1000), starts);
    QVERIFY(rig.busy);
}

void TestUpdateWorker::shouldStoreStateBeforeReportingResult_data()
{
    QTest::addColumn<bool>("withSource");
    QTest::addColumn<bool>("writeFails");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("state");
    QTest::newRow("success") << true << false << 0 << int(Idle);
    QTest::newRow("source missing") << false << false << 105 << int(Backoff);
    QTest::newRow("every write fails") << true << true << 112 << int(Backoff);
}

void TestUpdateWorker::shouldStoreStateBeforeReportingResult()
{
    QFETCH(bool, withSource);
    QFETCH(bool, writeFails);
    QFETCH(int, result);
    QFETCH(int, state);
    WorkerRig rig;
    const int disk = rig.host().AddCalculator("A1");
    if (withSource)
        rig.host().AddSourceFile(kSource, fileBytes(kSourceSize));
    if (writeFails)
        rig.host().EditDisk(disk, [](TestHost::Disk& d) { d.dataWriteFault.times = -1; });
    rig.stopAt("inactive");
    rig.run("process");
    QTRY_VERIFY_WITH_TIMEOUT(rig.loopEnded, 2000);

    const QStringList tail = rig.log->entries.mid(rig.log->entries.size() - 3);
    QCOMPARE(tail.join(", "), QString("active, ran %1, inactive").arg(result));
    QCOMPARE(rig.log->stateAtRan.load(), state);
    QCOMPARE(rig.worker->lastResult.load(), result);
    QVERIFY(rig.worker->transferStarted);
}

void TestUpdateWorker::shouldRetrySameFileWithoutCountdown()
{
    WorkerRig rig;
    rig.host().AddCalculator("A1");
    rig.stopAt("inactive", 2);
    rig.run("process");
    QTRY_VERIFY_WITH_TIMEOUT(rig.loopEnded, 2000);

    // After the pause of 3 s the search finds the calculator again and, a transfer having
    // started before, goes on without foundDevice and with the countdown already at 0.
    const QStringList expected =
        QStringList{"found", "ticks 1"} + repeated("start", 6) +
        QStringList{"active", "ran 105", "inactive", "active", "ran 105", "inactive"};
    QCOMPARE(rig.log->entries.join(", "), expected.join(", "));
    QCOMPARE(rig.paced.pausesOf(3000), 1);
}

void TestUpdateWorker::shouldStopOnlyBetweenSteps_data()
{
    QTest::addColumn<bool>("duringTransfer");
    QTest::addColumn<int>("result");
    QTest::newRow("stopped during a transfer") << true << 0;
    QTest::newRow("stopped during the backoff") << false << 105;
}

void TestUpdateWorker::shouldStopOnlyBetweenSteps()
{
    QFETCH(bool, duringTransfer);
    QFETCH(int, result);
    WorkerRig rig;
    const int disk = rig.host().AddCalculator("A1");
    if (duringTransfer)
        rig.host().AddSourceFile(kSource, fileBytes(kSourceSize));
    rig.answer(nullptr);
    rig.paced.beforeSleep = [&](int ms) {
        const bool transferThread = !rig.onWorkerThread() && rig.busy;
        if ((duringTransfer && transferThread) || (!duringTransfer && ms == 3000))
            rig.worker->stopRequested = true;
    };
    rig.run("process");
    QTRY_VERIFY_WITH_TIMEOUT(rig.loopEnded, 2000);
    QCoreApplication::processEvents(); // a pause cut short by the stop let the loop end first

    QCOMPARE(rig.log->entries.mid(rig.log->entries.size() - 2).join(", "),
             QString("ran %1, inactive").arg(result));
    if (duringTransfer) // the file went on to its end
        QCOMPARE(rig.host().DiskBytes(disk, 0x100000, kSourceSize), fileBytes(kSourceSize));
    // The step under way ends; no search follows it.
    const auto events = rig.host().Events();
    QCOMPARE(events.back().op, TestHost::Op::Sleep);
    QCOMPARE(int(events.back().length), duringTransfer ? 100 : 3000);

    // Ended for good: a state stored afterwards wakes nothing.
    const QStringList before = rig.log->entries;
    rig.worker->state = Searching;
    QMetaObject::invokeMethod(
        rig.worker, [] {}, Qt::BlockingQueuedConnection);
    QCoreApplication::processEvents();
    QCOMPARE(rig.log->entries, before);
    QCOMPARE(rig.host().Events().size(), events.size());
}

void TestUpdateWorker::shouldEndLoopOnException()
{
    WorkerRig rig;
    std::atomic<int> pauses{0};
    rig.paced.beforeSleep = [&](int) {
        if (++pauses == 3)
            throw std::runtime_error("a step failed");
    };
    rig.run("process");
    QTRY_VERIFY_WITH_TIMEOUT(rig.loopEnded, 2000);
    QCOMPARE(rig.worker->lastResult.load(), int(kResultException));
    QCoreApplication::processEvents();
    // The loop's end is reported: nothing else would tell the window.
    QCOMPARE(rig.log->entries.join(", "), QString("ticks 1, ticks 2, failed -2"));
    QCOMPARE(countOps(rig.host().Events(), TestHost::Op::Enumerate), 2);
}

void TestUpdateWorker::shouldForwardProgressAndCopiedMessage()
{
    ForwardingReceiver receiver;
    setForwardingReceiver(&receiver);
    {
        WorkerRig rig;
        rig.host().AddCalculator("A1");
        rig.host().AddCalculator("B2");
        rig.host().AddSourceFile(kSource, fileBytes(kSourceSize));
        rig.stopAt("inactive");
        rig.run("process");
        QTRY_VERIFY_WITH_TIMEOUT(rig.loopEnded, 2000);
        QCoreApplication::processEvents();
    }
    setForwardingReceiver(nullptr);
    // One message per calculator, each thread's own copy of the text; one run of progress, the
    // calculators' common one.
    QCOMPARE(receiver.messages, QStringList(QString::fromStdString(kSource))
                                    << QString::fromStdString(kSource));
    QCOMPARE(receiver.progress, (QList<int>{0, 40, 81, 100}));
}

void TestUpdateWorker::shouldHandEngineWholePath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("result");
    const QString longName = "/updates/" + QString(300, 'a') + "/ZENTA_OS.ROM";
    // Where the engine's field is as long as the platform's longest path (Windows: 260 units),
    // such a path is refused as too long, by the next row.
    if (longName.size() < kSourcePathChars)
        QTest::newRow("path longer than 259 characters") << longName << 0;
    QTest::newRow("path longer than the engine takes")
        << "/updates/" + QString(kSourcePathChars, 'b') << 105;
    QTest::newRow("path with a NUL inside") << QString("/updates/c") + QChar(0) + "d" << 105;
}

void TestUpdateWorker::shouldHandEngineWholePath()
{
    QFETCH(QString, path);
    QFETCH(int, result);
    WorkerRig rig;
    rig.host().AddCalculator("A1");
    rig.host().AddSourceFile(path.toStdString(), fileBytes(kSourceSize));
    // Every shorter form of the path names a file too: a cut path would be written.
    for (int length : {259, kSourcePathChars - 1, int(path.indexOf(QChar(0)))}) {
        if (length > 0 && length < path.size())
            rig.host().AddSourceFile(path.left(length).toStdString(), fileBytes(100));
    }
    rig.worker->setTarget(path, 0);
    rig.stopAt("inactive");
    rig.run("process");
    QTRY_VERIFY_WITH_TIMEOUT(rig.loopEnded, 2000);
    QCOMPARE(rig.worker->lastResult.load(), result);
}

void TestUpdateWorker::shouldRestartFromSearching()
{
    WorkerRig rig;
    rig.host().AddCalculator("A1");
    rig.stopAt("inactive");
    rig.run("process");
    QTRY_VERIFY_WITH_TIMEOUT(rig.loopEnded, 2000);
    QCOMPARE(rig.log->entries.mid(rig.log->entries.size() - 2).join(", "),
             QString("ran 105, inactive"));

    rig.log->entries.clear();
    rig.worker->retryCount = 6;
    rig.stopAt("ticks 1");
    rig.worker->requestRestart();
    rig.markEnd();
    QTRY_VERIFY_WITH_TIMEOUT(rig.loopEnded, 2000);
    // As from start-up: found again (no transfer has started in this run), a fresh tick count.
    QCOMPARE(rig.log->entries.join(", "), QString("found, ticks 1"));
    QCOMPARE(rig.worker->retryCount.load(), 0);
    QVERIFY(!rig.worker->transferStarted);
}

void TestUpdateWorker::shouldNotRestartWhenStoppedFirst()
{
    WorkerRig rig;
    rig.worker->requestStop();
    QSemaphore hold;
    QMetaObject::invokeMethod(
        rig.worker, [&] { hold.acquire(); }, Qt::QueuedConnection);
    rig.worker->requestRestart();
    rig.worker->requestStop();
    hold.release();
    rig.markEnd();
    QTRY_VERIFY_WITH_TIMEOUT(rig.loopEnded, 2000);
    QVERIFY(rig.log->entries.isEmpty());
    QVERIFY(rig.host().Events().empty());
}

void TestUpdateWorker::shouldWakeFromPauseOnStop_data()
{
    QTest::addColumn<bool>("calculator");
    QTest::addColumn<int>("failures"); // chunk writes that fail: 7 fail a transfer
    QTest::addColumn<int>("pause");
    QTest::newRow("polling") << false << 0 << 500;
    QTest::newRow("counting down") << true << 0 << 1000;
    QTest::newRow("before a retry") << true << 7 << 3000;
    QTest::newRow("idle after a file") << true << 0 << 250;
}

// A pause that waits for the GUI thread's turn stands for a long one: the GUI thread, waiting
// for the worker's thread to end, gives it no turn, and only a stop request can end the pause.
void TestUpdateWorker::shouldWakeFromPauseOnStop()
{
    QFETCH(bool, calculator);
    QFETCH(int, failures);
    QFETCH(int, pause);
    WorkerRig rig;
    if (calculator) {
        const int disk = rig.host().AddCalculator("A1");
        rig.host().EditDisk(disk,
                            [failures](TestHost::Disk& d) { d.dataWriteFault.times = failures; });
        rig.host().AddSourceFile(kSource, fileBytes(kSourceSize));
    }
    rig.answer(nullptr);
    QSemaphore reached;
    std::atomic<bool> seen{false};
    rig.paced.beforeSleep = [&](int ms) {
        // The idle pause of 250 ms comes after a transfer; the one before it does not count.
        if (ms == pause && rig.onWorkerThread() && (pause != 250 || rig.worker->state == Idle) &&
            !seen.exchange(true))
            reached.release();
    };
    rig.run("process");
    QVERIFY(QTest::qWaitFor([&] { return reached.tryAcquire(); }, 5000));
    rig.worker->requestStop();
    rig.thread.quit();
    QVERIFY(rig.thread.wait(2000));
}

void TestUpdateWorker::shouldSendFinishOnWorkerThreadAfterStop_data()
{
    QTest::addColumn<bool>("loopRunning");
    QTest::newRow("while the loop polls") << true;
    QTest::newRow("after the loop has ended") << false;
}

void TestUpdateWorker::shouldSendFinishOnWorkerThreadAfterStop()
{
    QFETCH(bool, loopRunning);
    WorkerRig rig;
    const int disk = rig.host().AddCalculator("A1");
    rig.host().EditDisk(disk, [](TestHost::Disk& d) { d.present = false; });
    // The caller goes on at once: the command goes out later, on the worker's thread.
    int sentAtRequest = -1;
    auto request = [&] {
        rig.worker->requestFinish();
        sentAtRequest = int(rig.host().EventsOf(disk).size());
    };
    rig.answer([&](const QString& entry) {
        if (entry == "ticks 2") {
            rig.host().EditDisk(disk, [](TestHost::Disk& d) { d.present = true; });
            if (loopRunning)
                request();
            else
                rig.worker->requestStop();
        }
    });
    rig.run("process");
    QTRY_VERIFY_WITH_TIMEOUT(rig.loopEnded, 2000);
    if (!loopRunning)
        request();
    QCOMPARE(sentAtRequest, 0);
    QTRY_COMPARE_WITH_TIMEOUT(rig.log->entries.last(), QString("sent"), 2000);

    // The loop has ended, then the pause, then the command, all on the worker's thread.
    const auto events = rig.host().Events();
    auto pauseAt = std::find_if(events.begin(), events.end(), [](const TestHost::Event& e) {
        return e.op == TestHost::Op::Sleep && e.length == 250;
    });
    QVERIFY(pauseAt != events.end());
    QCOMPARE(countOps({pauseAt, events.end()}, TestHost::Op::Command), 1);
    QCOMPARE(countOps({events.begin(), pauseAt}, TestHost::Op::Enumerate), 2);
    const int workerThread = events.front().thread;
    for (auto e = pauseAt; e != events.end(); ++e)
        QCOMPARE(e->thread, workerThread);
    const auto command = std::find_if(pauseAt, events.end(), [](const TestHost::Event& e) {
        return e.op == TestHost::Op::Command;
    });
    QCOMPARE(command->code, 0xBEC1u);
    QCOMPARE(rig.log->count("sent"), 1);
}

// Holds the second transfer thread of each file back until the first has written the whole
// file: the two calculators' reports then reach the receiver one run after the other.
struct LaggingThread {
    std::mutex lock;
    std::vector<std::thread::id> threads; // of the current file, in order of their first pause
    std::map<std::thread::id, int> pauses;
    QSemaphore firstDone;

    void nextFile()
    {
        std::lock_guard<std::mutex> guard(lock);
        threads.clear();
        pauses.clear();
    }
    // A transfer thread pauses before the mailbox, before its first report, after the data and
    // after its last report.
    void pause()
    {
        int rank, number;
        {
            std::lock_guard<std::mutex> guard(lock);
            const auto id = std::this_thread::get_id();
            auto at = std::find(threads.begin(), threads.end(), id);
            if (at == threads.end())
                at = threads.insert(threads.end(), id);
            rank = int(at - threads.begin());
            number = ++pauses[id];
        }
        if (rank == 0 && number == 4)
            firstDone.release();
        if (rank == 1 && number == 2)
            firstDone.tryAcquire(1, 5000);
    }
};

void TestUpdateWorker::shouldShowSlowestCalculatorsProgress()
{
    ForwardingReceiver receiver;
    setForwardingReceiver(&receiver);
    {
        WorkerRig rig;
        rig.host().AddCalculator("A1");
        rig.host().AddCalculator("B2");
        rig.host().AddSourceFile(kSource, fileBytes(kSourceSize));
        LaggingThread lag;
        rig.paced.beforeSleep = [&](int ms) {
            if (ms == 100 && !rig.onWorkerThread())
                lag.pause();
        };
        rig.answer([&](const QString& entry) {
            if (entry != "ran 0")
                return;
            if (rig.log->count("ran 0") == 2) {
                rig.worker->requestStop();
                return;
            }
            lag.nextFile();
            rig.worker->state = Transferring; // the next file, as the dialog does
        });
        rig.run("process");
        QTRY_VERIFY_WITH_TIMEOUT(rig.loopEnded, 10000);
        QCoreApplication::processEvents();
    }
    setForwardingReceiver(nullptr);
    // Each file from 0, never backwards, at the pace of the slower calculator.
    QCOMPARE(receiver.progress, (QList<int>{0, 40, 81, 100, 0, 40, 81, 100}));
}

// Wave 1 takes the two calculators there at the start; one plugged in during it waits for wave 2,
// and one that wave 1 updated and that comes straight back is not written again.
void TestUpdateWorker::shouldWriteEachWaveToItsOwnCalculatorsOnly()
{
    StationRig rig;
    const int a = rig.host().AddCalculator("A1");
    const int b = rig.host().AddCalculator("B2");
    const int recordsBefore = latestRecords(1000).size();
    int c = -1;
    int writesOfA = -1, opensOfC = -1;
    std::atomic<int> opensOfAAtWave{-1};
    std::atomic<int> pollsBeforeWave{-1};
    QObject::connect(
        rig.worker, &CUpdateWorker::waveStarted, rig.worker,
        [&](int wave) {
            if (wave == 1) {
                opensOfAAtWave = rig.count(a, TestHost::Op::Open);
                pollsBeforeWave = countOps(rig.host().Events(), TestHost::Op::Enumerate);
            }
        },
        Qt::DirectConnection);
    rig.play([&](const QString& entry) {
        if (entry == "ran 0" && c < 0)
            c = rig.host().AddCalculator("C3");
        if (entry == "ended 1 0") {
            writesOfA = rig.count(a, TestHost::Op::Write);
            opensOfC = rig.count(c, TestHost::Op::Open);
            // A1 restarts in update mode at once, as after an update.
            rig.host().EditDisk(a, [](TestHost::Disk& d) { d.present = true; });
        }
        if (entry.startsWith("ended 2"))
            rig.worker->requestStop();
    });
    rig.run("process");
    QTRY_VERIFY_WITH_TIMEOUT(rig.loopEnded, 20000);
    QCoreApplication::processEvents();

    QCOMPARE(rig.starting("wave ").join(", "), QString("wave 1 of 2, wave 2 of 1"));
    QCOMPARE(rig.starting("ended ").join(", "), QString("ended 1 0, ended 2 0"));
    QCOMPARE(rig.starting("tally ").last(), QString("tally 3 0 0"));
    // Listing for the waves opened no disk; the wave's own listing opened each once, for its
    // size. Ten polls of 500 ms make the settle.
    QCOMPARE(opensOfAAtWave.load(), 1);
    QVERIFY2(pollsBeforeWave >= 11, qPrintable(QString::number(pollsBeforeWave)));
    for (int disk : {a, b, c}) {
        QVERIFY2(rig.holdsUpdate(disk), qPrintable(QString::number(disk)));
        QCOMPARE(rig.finishes(disk), 1);
    }
    QCOMPARE(opensOfC, 0);
    QCOMPARE(rig.count(a, TestHost::Op::Write), writesOfA);
    // One record per wave, each of its own calculators.
    const QVector<QJsonObject> records = latestRecords(1000).mid(recordsBefore);
    QCOMPARE(records.size(), 2);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(records[i]["wave"].toInt(), i + 1);
        QCOMPARE(records[i]["outcome"].toString(), QString("ok"));
        QCOMPARE(records[i]["calculators"].toArray().size(), i == 0 ? 2 : 1);
    }
}

void TestUpdateWorker::shouldSettleFromLatestArrival_data()
{
    QTest::addColumn<int>("secondAt"); // the poll of the countdown that sees B2 plugged in, 0: none
    QTest::addColumn<int>("calculators");
    QTest::newRow("one calculator") << 0 << 1;
    QTest::newRow("another one half-way") << 5 << 2;
}

// Each arrival starts the settle again: the wave begins 5 s after the latest one, with all.
void TestUpdateWorker::shouldSettleFromLatestArrival()
{
    QFETCH(int, secondAt);
    QFETCH(int, calculators);
    StationRig rig;
    rig.host().AddCalculator("A1");
    QList<int> left;
    rig.play([&](const QString& entry) {
        if (entry == "start") {
            left << rig.countdownMs;
            if (left.size() == secondAt)
                rig.host().AddCalculator("B2");
        }
        if (entry.startsWith("wave "))
            rig.worker->requestStop();
    });
    rig.run("process");
    QTRY_VERIFY_WITH_TIMEOUT(rig.loopEnded, 20000);
    QCoreApplication::processEvents();

    const QList<int> settle{5000, 4500, 4000, 3500, 3000, 2500, 2000, 1500, 1000, 500};
    QCOMPARE(left, secondAt == 0 ? settle : settle.mid(0, secondAt) + settle);
    QCOMPARE(rig.starting("wave ").join(", "), QString("wave 1 of %1").arg(calculators));
    QCOMPARE(rig.log->count("found"), calculators);
    QCOMPARE(rig.countdownMs.load(), 0);
}

// A file changed between two waves: the wave is refused with nothing written, and its
// calculator waits for a wave that a new calculator starts.
void TestUpdateWorker::shouldWaitForNewCalculatorAfterRefusedWave()
{
    StationRig rig;
    const int a = rig.host().AddCalculator("A1");
    int b = -1, c = -1;
    int ticksAfterRefusal = 0;
    const std::string second = rig.set[1].path.toStdString();
    auto flip = [&] {
        rig.host().EditSourceFile(second, [](TestHost::SourceFile& f) { f.data[5] ^= 0xFF; });
    };
    rig.play([&](const QString& entry) {
        if (entry == "ended 1 0") {
            flip();
            b = rig.host().AddCalculator("B2");
        }
        if (entry.startsWith("ended 2") && c < 0)
            ticksAfterRefusal = 1;
        if (entry.startsWith("ticks") && ticksAfterRefusal > 0 && c < 0 &&
            ++ticksAfterRefusal == 30) {
            // 15 s on, no wave has come: the file as it was, and a new calculator.
            flip();
            c = rig.host().AddCalculator("C3");
        }
        if (entry.startsWith("ended 3"))
            rig.worker->requestStop();
    });
    rig.run("process");
    QTRY_VERIFY_WITH_TIMEOUT(rig.loopEnded, 30000);
    QCoreApplication::processEvents();

    QCOMPARE(rig.starting("wave ").join(", "), QString("wave 1 of 1, wave 2 of 1, wave 3 of 2"));
    QCOMPARE(rig.starting("ended ").join(", "),
             QString("ended 1 0, ended 2 109 refused, ended 3 0"));
    QVERIFY(c >= 0);
    // The refused wave left B2 alone: no write, no finish command, until wave 3.
    QCOMPARE(rig.log->count("failed 109"), 0);
    QVERIFY(rig.holdsUpdate(a) && rig.holdsUpdate(b) && rig.holdsUpdate(c));
    QCOMPARE(rig.finishes(a), 1);
    QCOMPARE(rig.finishes(b), 1);
    QCOMPARE(rig.finishes(c), 1);
    // B2 still waits after its refusal, and goes with C3.
    QCOMPARE(rig.starting("tally ").join(", "),
             QString("tally 0 0 1, tally 1 0 0, tally 1 0 1, tally 1 0 2, tally 3 0 0"));
    const QVector<QJsonObject> records = latestRecords(2);
    QCOMPARE(records[0]["outcome"].toString(), QString("refused"));
    QCOMPARE(records[0]["wave"].toInt(), 2);
    QCOMPARE(records[1]["outcome"].toString(), QString("ok"));
}

// A calculator whose writes all fail leaves the wave with its first file; the other one gets
// every file, each once, and the tally counts one of each.
void TestUpdateWorker::shouldNotLetBrokenCalculatorHoldBackItsWave()
{
    StationRig rig;
    const int a = rig.host().AddCalculator("A1");
    const int b = rig.host().AddCalculator("B2");
    rig.host().EditDisk(a, [](TestHost::Disk& d) { d.dataWriteFault.times = -1; });
    rig.play([&](const QString& entry) {
        if (entry.startsWith("ended "))
            rig.worker->requestStop();
    });
    rig.run("process");
    QTRY_VERIFY_WITH_TIMEOUT(rig.loopEnded, 30000);
    QCoreApplication::processEvents();

    QCOMPARE(rig.starting("ended ").join(", "), QString("ended 1 112"));
    // Six attempts at the first file (the retries to A1 alone), then one for each other file.
    QCOMPARE(rig.starting("ran ").join(", "),
             QString("ran 112, ran 112, ran 112, ran 112, ran 112, ran 112, ran 0, ran 0"));
    QCOMPARE(rig.starting("step ").join(", "),
             QString("step 1, step 1, step 1, step 1, step 1, step 0, step 0, step 2"));
    QVERIFY(rig.holdsUpdate(b));
    QVERIFY(!rig.holdsFile(a, 0) && !rig.holdsFile(a, 1) && !rig.holdsFile(a, 2));
    std::int64_t stored = 0;
    for (int file = 0; file < 3; ++file)
        stored += std::int64_t(StationRig::bytesOf(file).size());
    std::int64_t bytesOfB = 0;
    rig.host().EditDisk(b, [&](TestHost::Disk& d) { bytesOfB = d.bytesStored; });
    QCOMPARE(bytesOfB, stored);
    QCOMPARE(rig.starting("tally ").last(), QString("tally 1 1 0"));
    QCOMPARE(rig.finishes(b), 1);
}

// The set is read once as the station starts, against no calculator: a file that cannot be read
// ends the station before any calculator is touched.
void TestUpdateWorker::shouldEndStationWhenFirstCheckRefusesSet()
{
    StationRig rig;
    const int a = rig.host().AddCalculator("A1");
    rig.host().EditSourceFile(rig.set[2].path.toStdString(), [](TestHost::SourceFile& f) {
        f.readFault = {0, -1};
    });
    rig.play(nullptr);
    rig.run("process");
    QTRY_VERIFY_WITH_TIMEOUT(rig.loopEnded, 20000);
    QCoreApplication::processEvents();

    QCOMPARE(rig.log->entries.join(", "), QString("failed 109"));
    QVERIFY(rig.worker->stopRequested);
    QVERIFY(rig.host().EventsOf(a).empty());
    QCOMPARE(latestRecords(1).first()["outcome"].toString(), QString("refused"));
}

QTEST_GUILESS_MAIN(TestUpdateWorker)
#include "tst_updateworker.moc"
