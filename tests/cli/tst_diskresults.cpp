// The engine's answer per calculator: each disk's result after a run, the disk a callback
// comes from, every calculator present (also past the sixteen a run takes) and the read-back.
#include "engine_fixture.h"

#include "cli_report.h"
#include "cli_update.h"
#include "device/mailbox.h"
#include "own_guard_namespace.h"
#include "settings/single_instance.h"

#include <QJsonDocument>
#include <QTemporaryFile>

#include <cstdio>
#include <functional>
#include <unistd.h>

namespace {

const std::string kSource = "/updates/ZENTA_OS.ROM";

int Run(std::int64_t offset)
{
    return RunTransfer(kVendor, kProduct, W(kSource).c_str(), offset, RecordProgress,
                       RecordMessage);
}

QString Text(const WChar* text)
{
    return QString::fromStdU16String(std::u16string(text, text + Length16(text)));
}

std::mutex g_seenLock;
std::vector<std::pair<int, int>> g_seen; // (disk, percent)

void RecordDiskProgress(int percent)
{
    std::lock_guard<std::mutex> guard(g_seenLock);
    g_seen.emplace_back(CurrentTransferDisk(), percent);
}

// Calculators a1 and b2, and a source of two chunks for them.
void AddTwoCalculators(TestHost& host)
{
    host.AddSourceFile(kSource, MakeData(32768));
    for (const char* serial : {"a1", "b2"})
        host.AddCalculator(serial);
}

CliReport* g_report = nullptr;

void ReportProgress(int percent)
{
    g_report->progress(CurrentTransferDisk(), CurrentTransferDiskPath(), percent);
}

// What `run` prints to standard output, line by line.
QList<QByteArray> PrintedBy(const std::function<void()>& run)
{
    QTemporaryFile capture;
    if (!capture.open())
        return {};
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    dup2(capture.handle(), STDOUT_FILENO);
    run();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    capture.seek(0);
    return capture.readAll().split('\n');
}

} // namespace

class TestDiskResults : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { EnterOwnGuardNamespace(); }

    // A `list` beside an update under way (which holds the guard) opens no calculator: an
    // exclusive open between two of the update's files would fail the next one with 107.
    void shouldListWithoutOpeningBesideAnUpdate_data()
    {
        QTest::addColumn<bool>("updating");
        QTest::newRow("alone") << false;
        QTest::newRow("beside an update") << true;
    }
    void shouldListWithoutOpeningBesideAnUpdate()
    {
        QFETCH(bool, updating);
        HostScope scope;
        TestHost& host = scope.host();
        host.AddCalculator("a1");
        host.AddCalculator("b2");
        SingleInstance update;
        if (updating)
            QVERIFY(update.take());
        CliReport report(CliReport::Mode::Lines);
        int code = -1;
        const QList<QByteArray> lines = PrintedBy([&] { code = runList(report); });
        QCOMPARE(code, 0);
        QVERIFY(lines.value(1).contains("a1") && lines.value(2).contains("b2"));
        QCOMPARE(CountOps(host.Events(), TestHost::Op::Open), updating ? 0 : 2);
    }

    void shouldKeepEachDisksResult_data()
    {
        QTest::addColumn<int>("faulty");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("results");
        QTest::newRow("all written") << -1 << "" << 0 << "0 0 0";
        QTest::newRow("second fails its writes") << 1 << "write" << 112 << "0 112 0";
        QTest::newRow("third does not open") << 2 << "open" << 107 << "0 0 107";
        QTest::newRow("no source") << -1 << "nosource" << 105 << "105 105 105";
    }
    void shouldKeepEachDisksResult()
    {
        QFETCH(int, faulty);
        QFETCH(QString, fault);
        QFETCH(int, result);
        QFETCH(QString, results);
        HostScope scope;
        TestHost& host = scope.host();
        if (fault != "nosource")
            host.AddSourceFile(kSource, MakeData(40000));
        for (const char* serial : {"a1", "b2", "c3"})
            host.AddCalculator(serial);
        if (faulty >= 0) {
            host.EditDisk(faulty, [&](TestHost::Disk& d) {
                (fault == "write" ? d.dataWriteFault : d.openFault) = {0, -1};
            });
        }
        QCOMPARE(Run(0x100000), result); // the run's own answer is unchanged
        DiskResult disks[kMaxDisks];
        QCOMPARE(GetTransferResults(disks, kMaxDisks), 3);
        QStringList got;
        for (int i = 0; i < 3; ++i) {
            got << QString::number(disks[i].result);
            QCOMPARE(Text(disks[i].serial), QString("abc").mid(i, 1) + QString::number(i + 1));
            QCOMPARE(Text(disks[i].devicePath), QString::fromStdString(TestHost::CalculatorPath(
                                                    Text(disks[i].serial).toStdString())));
        }
        QCOMPARE(got.join(' '), results);
    }

    // The finish command is told per calculator, as it went: a held disk and a command that
    // was not written are no finish sent.
    void shouldTellWhichCalculatorsTheFinishReached()
    {
        HostScope scope;
        TestHost& host = scope.host();
        for (const char* serial : {"a1", "b2", "c3", "d4"})
            host.AddCalculator(serial);
        host.EditDisk(1, [](TestHost::Disk& d) { d.openFault = {0, -1}; });
        host.EditDisk(2, [](TestHost::Disk& d) { d.commandWriteFault = {0, -1}; });
        // Its disk says it stored every command and drops it: the calculator never leaves.
        host.EditDisk(3, [](TestHost::Disk& d) { d.lostWriteFault = {0, -1}; });
        DiskResult disks[kMaxDisks];
        QCOMPARE(FinishCalculatorDisks(kVendor, kProduct, disks, kMaxDisks), 4);
        QStringList got;
        for (int i = 0; i < 4; ++i)
            got << Text(disks[i].serial) + "=" + QString::number(disks[i].result);
        QCOMPARE(got.join(' '), QString("a1=0 b2=107 c3=112 d4=114"));
        QCOMPARE(CommandsOf(host, 3).size(), std::size_t(kFinishRounds));
        QCOMPARE(host.OpenHandles(), 0);

        // The report says so: not "finish command sent".
        HistoryRecord record;
        for (int i = 0; i < 4; ++i)
            historyCalculator(&record, disks[i]);
        noteFinishResults(&record, disks, 4);
        CliReport report(CliReport::Mode::Lines);
        const QList<QByteArray> lines = PrintedBy([&] { report.finished(record, kResultOk); });
        QCOMPARE(QString(lines.value(lines.size() - 2)),
                 QString("Update  (exit code 0), finish command not sent to b2 (107), c3 (112); "
                         "sent to d4, which stayed in update mode (114)"));
        QCOMPARE(historyJson(record)["calculators"].toArray()[1].toObject()["finish"].toInt(),
                 kResultDiskNotOpen);
        QVERIFY(!finishReachedAll(record));
        // Every calculator but one passed over (which the finish leaves alone) got it.
        record.calculators[1].finish = record.calculators[2].finish = kResultOk;
        record.calculators[3].finish = kResultOk;
        QVERIFY(finishReachedAll(record));
        record.calculators[2].finish = kNotWritten;
        QVERIFY(!finishReachedAll(record));
        record.calculators[2].passedOver = true;
        QVERIFY(finishReachedAll(record));
    }

    void shouldForgetAnEarlierRunWhenNoneIsFound()
    {
        HostScope scope;
        TestHost& host = scope.host();
        host.AddSourceFile(kSource, MakeData(100));
        const int disk = host.AddCalculator("a1");
        QCOMPARE(Run(0), kResultOk);
        host.EditDisk(disk, [](TestHost::Disk& d) { d.present = false; });
        QCOMPARE(Run(0), kResultNoDevice);
        DiskResult disks[kMaxDisks];
        QCOMPARE(GetTransferResults(disks, kMaxDisks), 0);
    }

    void shouldTellTheDiskOfEachCallback()
    {
        HostScope scope;
        TestHost& host = scope.host();
        AddTwoCalculators(host);
        g_seen.clear();
        QCOMPARE(RunTransfer(kVendor, kProduct, W(kSource).c_str(), 0, RecordDiskProgress,
                             RecordMessage),
                 kResultOk);
        std::sort(g_seen.begin(), g_seen.end());
        const std::vector<std::pair<int, int>> expected{{0, 0}, {0, 50}, {0, 100},
                                                        {1, 0}, {1, 50}, {1, 100}};
        QCOMPARE(g_seen, expected);
        QCOMPARE(CurrentTransferDisk(), -1);
    }

    // The command line lists the calculators once; a transfer searches them again, so one
    // unplugged since then moves the others in the transfer's table.
    void shouldNameEachCalculatorsProgressByItsOwnSerial()
    {
        HostScope scope;
        TestHost& host = scope.host();
        AddTwoCalculators(host);
        QVector<DiskResult> listed(2);
        QCOMPARE(ListCalculatorDisks(kVendor, kProduct, listed.data(), 2), 2);
        host.EditDisk(0, [](TestHost::Disk& d) { d.present = false; });
        const QList<QByteArray> lines = PrintedBy([&] {
            CliReport report(CliReport::Mode::Json);
            g_report = &report;
            report.found(listed);
            report.fileStarted(0, {"ZENTA_OS.ROM", 32768, QByteArray()}, 1);
            RunTransfer(kVendor, kProduct, W(kSource).c_str(), 0, ReportProgress, RecordMessage);
        });
        QSet<QString> named;
        for (const QByteArray& line : lines) {
            const QJsonObject event = QJsonDocument::fromJson(line).object();
            if (event["event"] == "progress")
                named << event["calculator"].toString();
        }
        QCOMPARE(named, QSet<QString>{"b2"});
    }

    void shouldListEveryCalculatorPastSixteen()
    {
        HostScope scope;
        TestHost& host = scope.host();
        host.AddDisk(TestHost::UsbDiskPath("sandisk", "cruzer", "s1"));
        for (int i = 0; i < 17; ++i)
            host.AddCalculator("c" + std::to_string(i));
        host.EditDisk(5, [](TestHost::Disk& d) { d.openFault = {0, -1}; });
        DiskResult disks[32];
        QCOMPARE(ListCalculatorDisks(kVendor, kProduct, disks, 32), 17);
        QCOMPARE(Text(disks[16].serial), QString("c16"));
        QCOMPARE(disks[16].size, std::int64_t(64) << 20);
        QCOMPARE(disks[4].result, int(kResultDiskNotOpen)); // disk 5 is the 5th calculator
        QCOMPARE(disks[4].size, std::int64_t(-1));
        QCOMPARE(ListCalculatorDisks(kVendor, kProduct, disks, 2), 17); // fills only 2
        QCOMPARE(CountOps(host.Events(), TestHost::Op::Write), 0);
    }

    void shouldVerifyWhatEachDiskHolds_data()
    {
        QTest::addColumn<std::int64_t>("flipAt"); // a byte of the second disk changed; -1: none
        QTest::addColumn<bool>("changeSource");
        QTest::addColumn<QString>("results");
        QTest::newRow("intact") << std::int64_t(-1) << false << "0 0";
        QTest::newRow("a byte changed") << std::int64_t(70000) << false << "0 113";
        QTest::newRow("last byte changed") << std::int64_t(99999) << false << "0 113";
        QTest::newRow("only the mailbox sector")
            << std::int64_t(kMailboxOffset + 7) << false << "0 0";
        QTest::newRow("source changed since") << std::int64_t(-1) << true << "109 109";
    }
    void shouldVerifyWhatEachDiskHolds()
    {
        QFETCH(std::int64_t, flipAt);
        QFETCH(bool, changeSource);
        QFETCH(QString, results);
        HostScope scope;
        TestHost& host = scope.host();
        host.AddSourceFile(kSource, MakeData(100000));
        host.AddCalculator("a1");
        const int second = host.AddCalculator("b2");
        SourceDigest digest;
        QCOMPARE(DigestSourceFile(W(kSource).c_str(), &digest), kResultOk);
        QCOMPARE(Run(0), kResultOk);
        if (flipAt >= 0) {
            host.EditDisk(second, [&](TestHost::Disk& d) {
                auto& page = d.pages[flipAt / TestHost::kPageSize * TestHost::kPageSize];
                page[flipAt % TestHost::kPageSize] ^= 0x10;
            });
        }
        if (changeSource)
            host.EditSourceFile(kSource, [](TestHost::SourceFile& f) { f.data[5] ^= 1; });
        const int writesBefore = CountOps(host.Events(), TestHost::Op::Write);
        DiskResult disks[kMaxDisks];
        QCOMPARE(VerifyCalculatorDisks(kVendor, kProduct, W(kSource).c_str(), 0, digest, disks,
                                       kMaxDisks),
                 2);
        QCOMPARE(QString("%1 %2").arg(disks[0].result).arg(disks[1].result), results);
        QCOMPARE(CountOps(host.Events(), TestHost::Op::Write), writesBefore); // reads only
        QCOMPARE(host.OpenHandles(), 0);
    }
};

QTEST_GUILESS_MAIN(TestDiskResults)
#include "tst_diskresults.moc"
