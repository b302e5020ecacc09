// Every fault at every disk operation of a whole update, through the window's sequence and the
// command line's (its update, and a station's wave), with one and with two calculators.
//
// "Operation k" is the k-th operation on the first calculator's disk, counted by the test host
// from the first one of the update to its end: opens, seeks, reads, writes (data and command
// sectors) and flushes, failed ones included; closes and size queries are not counted
// (TestHost::OperationsOf). A clean update is run first for each way of updating; its log gives
// the operations that the sweep then breaks one by one. With two calculators only the first is
// faulted; the second must come through whatever happens to the first.
//
// The promise checked in every case: success is reported only when every calculator holds every
// byte of every file at its offset and took the finish command; any other end reports a failure
// code and still sends the finish command to every calculator that answers; and the update ends
// (the test host's clock takes no time, so that a long wait shows as a hang at once).
#include "dialog_rig.h"
#include "engine_fixture.h"
#include "own_guard_namespace.h"

#include "cli_options.h"
#include "cli_report.h"
#include "cli_station.h"
#include "cli_update.h"
#include "update/update_files.h"
#include "worker/update_worker.h"

#include <QApplication>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <thread>
#include <unistd.h>

namespace {

// Small files, one to three chunks of 16 KiB, so that a whole update has few operations.
struct SweepFile {
    const char* name;
    std::int64_t size;
};
const SweepFile kFiles[] = {
    {"ZENTA_OS.ROM", 512}, {"ZENTA_KESTOL.DAT", 16385}, {"ZENTA_APP.DAT", 36768}};

// A case that has not ended after this much of the host's clock would keep a user waiting.
constexpr std::int64_t kHangAfterVirtualMs = 2 * 60 * 1000;
// The same in real time, for a loop that does not even pause.
constexpr int kHangAfterRealMs = 30000;

enum class Front { Window, Cli, Station };

struct Way {
    Front front;
    int calculators;
    bool verify; // the command line's --verify
    QString name() const
    {
        return QString("%1%2, %3 calculator%4")
            .arg(front == Front::Window ? "window"
                 : front == Front::Cli  ? "command line"
                                        : "station")
            .arg(verify ? " --verify" : "")
            .arg(calculators)
            .arg(calculators == 1 ? "" : "s");
    }
};
const Way kWays[] = {{Front::Window, 1, false}, {Front::Window, 2, false}, {Front::Cli, 1, false},
                     {Front::Cli, 2, false},    {Front::Cli, 1, true},     {Front::Cli, 2, true},
                     {Front::Station, 2, false}};

enum class Kind { IoOnce, IoFromOn, ShortWrite, LostWrite, Unplug };
const Kind kKinds[] = {Kind::IoOnce, Kind::IoFromOn, Kind::ShortWrite, Kind::LostWrite,
                       Kind::Unplug};

QString kindName(Kind kind)
{
    switch (kind) {
    case Kind::IoOnce:
        return "EIO once";
    case Kind::IoFromOn:
        return "EIO from then on";
    case Kind::ShortWrite:
        return "short write";
    case Kind::LostWrite:
        return "lost write";
    case Kind::Unplug:
        return "unplugged";
    }
    return QString();
}

bool isWrite(const TestHost::Event& e)
{
    return e.op == TestHost::Op::Write || e.op == TestHost::Op::Command;
}

QString describe(const TestHost::Event& e)
{
    const QString at = QString("0x%1").arg(e.offset, 0, 16);
    switch (e.op) {
    case TestHost::Op::Open:
        return "open";
    case TestHost::Op::OpenFailed:
        return "failed open";
    case TestHost::Op::Seek:
        return "seek to " + at;
    case TestHost::Op::Read:
        return QString("read %1 B at %2").arg(e.length).arg(at);
    case TestHost::Op::Write:
        return QString("write %1 B at %2").arg(e.length).arg(at);
    case TestHost::Op::Command:
        return e.code == 0xBEC1 ? QString("finish command")
                                : QString("progress command %1").arg(e.parameter);
    case TestHost::Op::Flush:
        return "flush";
    default:
        return "other";
    }
}

void applyFault(TestHost& host, int disk, Kind kind, int k)
{
    host.EditDisk(disk, [kind, k](TestHost::Disk& d) {
        const TestHost::Fault once{k, 1};
        switch (kind) {
        case Kind::IoOnce:
            d.ioFault = once;
            break;
        case Kind::IoFromOn:
            d.ioFault = {k, -1};
            break;
        case Kind::ShortWrite:
            d.shortWriteFault = once;
            break;
        case Kind::LostWrite:
            d.lostWriteFault = once;
            break;
        case Kind::Unplug:
            d.unplugFault = once;
            break;
        }
    });
}

// What one whole update left behind.
struct Outcome {
    bool ended = false;
    int code = -1; // 0: success reported
    std::int64_t virtualMs = 0;
    std::vector<bool> holdsUpdate; // per calculator: every byte of every file, nothing else
    std::vector<int> finishTaken;  // per calculator
    std::vector<TestHost::Event> operations; // of the first calculator
};

// Every file exact at its offset, and every other byte that a write touched as it was. Built a
// page at a time: this runs for every calculator of every case.
bool holdsUpdate(const TestHost& host, int disk)
{
    static const std::vector<std::vector<unsigned char>> contents = [] {
        std::vector<std::vector<unsigned char>> out;
        for (const SweepFile& file : kFiles)
            out.push_back(fileBytes(file.size));
        return out;
    }();
    for (std::size_t f = 0; f < std::size(kFiles); ++f) {
        if (host.DiskBytes(disk, diskOffsetFor(kFiles[f].name), kFiles[f].size) != contents[f])
            return false;
    }
    std::vector<unsigned char> expected(TestHost::kPageSize);
    for (std::int64_t page : host.TouchedPages(disk)) {
        for (std::int64_t i = 0; i < TestHost::kPageSize; ++i)
            expected[i] = TestHost::PatternByte(page + i);
        for (std::size_t f = 0; f < std::size(kFiles); ++f) {
            const std::int64_t start = diskOffsetFor(kFiles[f].name);
            const std::int64_t from = std::max(start, page);
            const std::int64_t to = std::min(start + kFiles[f].size, page + TestHost::kPageSize);
            if (from < to)
                std::memcpy(expected.data() + (from - page), contents[f].data() + (from - start),
                            static_cast<std::size_t>(to - from));
        }
        if (host.DiskBytes(disk, page, TestHost::kPageSize) != expected)
            return false;
    }
    return true;
}

void collect(const TestHost& host, int calculators, Outcome* out)
{
    out->virtualMs = host.SleptMs();
    for (int disk = 0; disk < calculators; ++disk) {
        out->holdsUpdate.push_back(holdsUpdate(host, disk));
        int taken = 0;
        const_cast<TestHost&>(host).EditDisk(
            disk, [&taken](TestHost::Disk& d) { taken = d.finishTaken; });
        out->finishTaken.push_back(taken);
    }
    out->operations = host.OperationsOf(0);
}

void addCalculators(TestHost& host, int calculators)
{
    for (int i = 0; i < calculators; ++i)
        host.AddCalculator(i == 0 ? "A1" : "B2");
}

// Runs the window's events until `done`; false once `over` holds or the real-time limit passed.
// (QTest::qWaitFor naps 10 ms between looks, which every pause of the worker would pay.)
bool waitUntil(const std::function<bool()>& done, const std::function<bool()>& over)
{
    QElapsedTimer clock;
    clock.start();
    QTimer wake; // for a loop that posts nothing
    wake.start(20);
    while (!done()) {
        if (over() || clock.elapsed() > kHangAfterRealMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

const QRegularExpression kFailedLine("^Update failed \\((-?\\d+)\\)$");

// The window's whole update: until "Done" or the last "Update failed (code)", then the window
// is closed and the finish command awaited.
Outcome runWindow(int calculators, const std::function<void(TestHost&)>& fault)
{
    Outcome out;
    DialogRig rig;
    addCalculators(rig.host(), calculators);
    fault(rig.host());
    for (const SweepFile& file : kFiles)
        rig.addFile(file.name, file.size);
    CCalcFWUpdateMSDialog& dialog = rig.start();
    int finishes = 0;
    QObject::connect(dialog.worker, &CUpdateWorker::finishSent, &dialog, [&] { ++finishes; });
    auto over = [&] { return rig.host().SleptMs() > kHangAfterVirtualMs; };
    auto outcome = [&] {
        return rig.line(1) == "Done" || kFailedLine.match(rig.line(1)).hasMatch();
    };
    if (waitUntil(outcome, over)) {
        const QString line = rig.line(1);
        out.code = line == "Done" ? 0 : kFailedLine.match(line).captured(1).toInt();
        dialog.close(); // the finish command of an update that wrote nothing goes now
        out.ended = waitUntil([&] { return finishes > 0; }, over);
        // Its last word: "Done" gives way to a failure when the finish missed a calculator.
        const QString last = rig.line(1);
        if (out.ended && last != line)
            out.code = kFailedLine.match(last).hasMatch()
                           ? kFailedLine.match(last).captured(1).toInt()
                           : -1;
    }
    collect(rig.host(), calculators, &out);
    return out;
}

// Standard output goes nowhere while the command line reports (its lines are not checked here).
class QuietStdout {
public:
    QuietStdout()
    {
        std::fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    ~QuietStdout()
    {
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }

private:
    int saved_;
};

// The command line's whole update, `update FOLDER --yes [--verify]` (or `station FOLDER --wait 5`:
// one wave of the calculators there), on a thread of its own so that one that never returns
// fails the test rather than stalling it.
Outcome runCli(const Way& way, const std::function<void(TestHost&)>& fault)
{
    Outcome out;
    HostScope scope;
    TestHost& host = scope.host();
    const int calculators = way.calculators;
    addCalculators(host, calculators);
    fault(host);
    QTemporaryDir folder;
    for (const SweepFile& file : kFiles) {
        const QString path = folder.filePath(file.name);
        const std::vector<unsigned char> bytes = fileBytes(file.size);
        QFile written(path);
        if (!written.open(QIODevice::WriteOnly))
            return out;
        written.write(reinterpret_cast<const char*>(bytes.data()), file.size);
        written.close();
        host.AddSourceFile(QDir::toNativeSeparators(path).toStdString(), bytes);
    }
    const bool station = way.front == Front::Station;
    CliOptions options;
    options.command = station ? CliCommand::Station : CliCommand::Update;
    options.folder = folder.path();
    options.waitSeconds = 5;
    options.yes = !station;
    options.verify = way.verify;
    std::promise<int> code;
    std::future<int> result = code.get_future();
    {
        QuietStdout quiet;
        std::thread update([&] {
            CliReport report(CliReport::Mode::Lines);
            code.set_value(station ? runStation(options, report) : runUpdate(options, report));
        });
        if (result.wait_for(std::chrono::milliseconds(kHangAfterRealMs)) !=
            std::future_status::ready)
            qFatal("the command line's update did not return within %d s", kHangAfterRealMs / 1000);
        update.join();
    }
    out.code = result.get();
    out.ended = host.SleptMs() <= kHangAfterVirtualMs;
    collect(host, calculators, &out);
    return out;
}

Outcome runWay(const Way& way, const std::function<void(TestHost&)>& fault)
{
    return way.front == Front::Window ? runWindow(way.calculators, fault) : runCli(way, fault);
}

// How many cases ended which way, for the closing line.
struct Tally {
    int cases = 0;
    int succeeded = 0;   // success, every byte and every finish command there
    int failed = 0;      // a failure code, the finish command to every calculator that answers
    int lostAllowed = 0; // a lost write without a read-back: success over wrong bytes, expected
    int lostCaught = 0;  // a lost write that --verify's read-back noticed
    std::int64_t longestMs = 0; // of the host's clock, among the cases that ended
    qint64 realMs[std::size(kWays)] = {};
};
Tally g_tally;

} // namespace

Q_DECLARE_METATYPE(Kind)

class TestFaultSweep : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void shouldKeepThePromiseWhateverFailsWhere_data();
    void shouldKeepThePromiseWhateverFailsWhere();
    void cleanupTestCase();

private:
    std::vector<std::vector<TestHost::Event>> clean_; // per way: the first disk's operations
};

void TestFaultSweep::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
    static QTemporaryDir stateHome; // the updates' history, never the user's
    qputenv("XDG_STATE_HOME", stateHome.path().toLocal8Bit());
    auto none = [](TestHost&) {};
    for (const Way& way : kWays) {
        const Outcome first = runWay(way, none);
        const Outcome second = runWay(way, none);
        const QString name = way.name();
        QVERIFY2(first.ended && first.code == 0, qPrintable(name));
        for (int i = 0; i < way.calculators; ++i)
            QVERIFY2(first.holdsUpdate[i] && first.finishTaken[i] == 1, qPrintable(name));
        // Operation k must name the same operation in every case of the way.
        QCOMPARE(second.operations.size(), first.operations.size());
        for (std::size_t i = 0; i < first.operations.size(); ++i)
            QCOMPARE(describe(second.operations[i]), describe(first.operations[i]));
        clean_.push_back(first.operations);
    }
}

void TestFaultSweep::shouldKeepThePromiseWhateverFailsWhere_data()
{
    QTest::addColumn<int>("way");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("k");
    for (int w = 0; w < static_cast<int>(std::size(kWays)); ++w) {
        const std::vector<TestHost::Event>& operations = clean_.at(w);
        for (Kind kind : kKinds) {
            for (int k = 0; k < static_cast<int>(operations.size()); ++k) {
                // A short or lost write changes nothing at an operation that writes nothing.
                if ((kind == Kind::ShortWrite || kind == Kind::LostWrite) &&
                    !isWrite(operations[k]))
                    continue;
                const QString name = QString("%1: %2 at operation %3 (%4)")
                                         .arg(kWays[w].name(), kindName(kind))
                                         .arg(k)
                                         .arg(describe(operations[k]));
                QTest::newRow(qPrintable(name)) << w << kind << k;
            }
        }
    }
}

void TestFaultSweep::shouldKeepThePromiseWhateverFailsWhere()
{
    QFETCH(int, way);
    QFETCH(Kind, kind);
    QFETCH(int, k);
    const Way& how = kWays[way];
    const TestHost::Event& broken = clean_.at(way).at(k);
    ++g_tally.cases;
    QElapsedTimer clock;
    clock.start();
    const Outcome out = runWay(how, [&](TestHost& host) { applyFault(host, 0, kind, k); });
    g_tally.realMs[way] += clock.elapsed();
    QVERIFY2(
        out.ended,
        qPrintable(QString("no end after %1 s of the host's clock").arg(out.virtualMs / 1000)));
    g_tally.longestMs = std::max(g_tally.longestMs, out.virtualMs);

    // Without a read-back nothing can tell a write the calculator acknowledged but never
    // stored: success over the missing bytes is what such a calculator gets.
    if (kind == Kind::LostWrite && !how.verify && broken.op == TestHost::Op::Write) {
        QCOMPARE(out.code, 0);
        QVERIFY2(!out.holdsUpdate[0], "the lost write was written after all");
        for (int i = 0; i < how.calculators; ++i)
            QCOMPARE(out.finishTaken[i], 1);
        for (int i = 1; i < how.calculators; ++i)
            QVERIFY(out.holdsUpdate[i]);
        ++g_tally.lostAllowed;
        return;
    }

    // With --verify the read-back finds the missing bytes: that attempt fails (113) and the file
    // is written again.
    if (kind == Kind::LostWrite && how.verify && broken.op == TestHost::Op::Write) {
        QVERIFY2(CountOps(out.operations, TestHost::Op::Write) >
                     CountOps(clean_.at(way), TestHost::Op::Write),
                 "the read-back did not notice the lost write");
        ++g_tally.lostCaught;
    }

    QStringList broke;
    for (int i = 0; i < how.calculators; ++i) {
        // A calculator that failed for good, or left, no longer answers.
        const bool answers = i > 0 || (kind != Kind::IoFromOn && kind != Kind::Unplug);
        if (out.code == 0 && !out.holdsUpdate[i])
            broke << QString("success reported, calculator %1 lacks bytes").arg(i);
        if ((out.code == 0 || answers) && out.finishTaken[i] == 0)
            broke << QString("calculator %1 did not take the finish command (result %2)")
                         .arg(i)
                         .arg(out.code);
    }
    QVERIFY2(broke.isEmpty(), qPrintable(broke.join("; ")));
    ++(out.code == 0 ? g_tally.succeeded : g_tally.failed);
}

void TestFaultSweep::cleanupTestCase()
{
    qInfo("fault sweep: %d cases: %d succeeded, %d failed as they should, %d lost writes "
          "allowed without --verify (%d more caught by it); the longest took %lld s of the "
          "host's clock",
          g_tally.cases, g_tally.succeeded, g_tally.failed, g_tally.lostAllowed, g_tally.lostCaught,
          static_cast<long long>(g_tally.longestMs / 1000));
    for (int w = 0; w < static_cast<int>(std::size(kWays)); ++w)
        qInfo("%s: %lld ms", qPrintable(kWays[w].name()),
              static_cast<long long>(g_tally.realMs[w]));
}

int main(int argc, char** argv)
{
    EnterOwnGuardNamespace();
    QApplication app(argc, argv);
    TestFaultSweep test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_faultsweep.moc"
