#include "engine_fixture.h"

#include "device/engine_state.h"
#include "device/mailbox.h"
#include "device/transfer.h"

namespace {

const std::string kSource = "/updates/ZENTA_OS.ROM";

int Run(std::int64_t diskOffset, const std::string& path = kSource)
{
    return RunTransfer(kVendor, kProduct, W(path).c_str(), diskOffset, RecordProgress,
                       RecordMessage);
}

// The callback's percentages as "0 50 100", so that a failure shows both sequences.
QString Progress()
{
    std::lock_guard<std::mutex> guard(g_callbacks.lock);
    return Join(g_callbacks.progress);
}

// The file the transfers read, `size` bytes of it, given back to compare a disk against.
std::vector<unsigned char> AddSource(TestHost& host, std::int64_t size)
{
    auto data = MakeData(size);
    host.AddSourceFile(kSource, data);
    return data;
}

std::mutex g_logLock;
std::vector<std::string> g_log;
void RecordLogLine(const char* line)
{
    std::lock_guard<std::mutex> guard(g_logLock);
    g_log.push_back(line);
}

std::vector<std::string> Messages()
{
    std::lock_guard<std::mutex> guard(g_callbacks.lock);
    return g_callbacks.messages;
}

// A compact picture of one disk's transfer: what a reviewer would read off a bus trace.
QStringList Trace(const TestHost& host, int disk)
{
    QStringList out;
    const auto events = host.Events();
    int thread = -1; // the transfer thread: the one that first seeks on the disk
    for (const auto& e : events) {
        if (e.disk == disk && e.op == TestHost::Op::Seek) {
            thread = e.thread;
            break;
        }
    }
    for (const auto& e : events) {
        if (e.disk != disk && !(e.op == TestHost::Op::Sleep && e.thread == thread))
            continue;
        switch (e.op) {
        case TestHost::Op::Sleep:
            out << QString::fromStdString("pause " + std::to_string(e.length));
            break;
        case TestHost::Op::Read:
            out << QString::fromStdString("read " + std::to_string(e.offset) + "+" +
                                          std::to_string(e.length));
            break;
        case TestHost::Op::Write:
            out << QString::fromStdString("write " + std::to_string(e.offset) + "+" +
                                          std::to_string(e.length));
            break;
        case TestHost::Op::Command:
            out << QString::fromStdString("command " + std::to_string(e.parameter));
            break;
        case TestHost::Op::Flush:
            out << QString::fromStdString("flush");
            break;
        case TestHost::Op::Close:
            out << QString::fromStdString("close");
            break;
        default:
            break; // seeks are checked where they matter
        }
    }
    return out;
}

} // namespace

class TestTransfer : public QObject {
    Q_OBJECT

private slots:
    void shouldWriteExactlyTheFileAtItsOffset_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<QString>("progress");
        QTest::addColumn<QString>("fault"); // the writer then reads each chunk itself
        QTest::newRow("empty") << qint64(0) << qint64(0x500000) << QString("0 100") << QString();
        QTest::newRow("one byte") << qint64(1) << qint64(0x100000) << QString("0 100") << QString();
        QTest::newRow("one chunk") << qint64(16384) << qint64(0) << QString("0 100") << QString();
        QTest::newRow("one chunk and a byte")
            << qint64(16385) << qint64(0x500000) << QString("0 99 100") << QString();
        QTest::newRow("two chunks")
            << qint64(32768) << qint64(0x100000) << QString("0 50 100") << QString();
        QTest::newRow("odd size over the mailbox")
            << qint64(100001) << qint64(0) << QString("0 16 32 49 65 81 98 100") << QString();
        QTest::newRow("unaligned offset")
            << qint64(20000) << qint64(0x100000 + 333) << QString("0 81 100") << QString();
        QTest::newRow("no read-ahead thread")
            << qint64(100001) << qint64(0) << QString("0 16 32 49 65 81 98 100") << "thread";
        QTest::newRow("no read-ahead buffer")
            << qint64(100001) << qint64(0) << QString("0 16 32 49 65 81 98 100") << "buffer";
    }
    void shouldWriteExactlyTheFileAtItsOffset()
    {
        QFETCH(qint64, size);
        QFETCH(qint64, offset);
        QFETCH(QString, progress);
        QFETCH(QString, fault);
        HostScope scope;
        TestHost& host = scope.host();
        const auto data = AddSource(host, size);
        const int disk = host.AddCalculator("1");
        // The second thread and the second buffer of the run are the read-ahead's.
        if (fault == "thread")
            host.threadStartFault = {1, -1};
        if (fault == "buffer")
            host.allocFault = {1, -1};

        QCOMPARE(Run(offset), kResultOk);
        QVERIFY(DiskHoldsExactly(host, disk, offset, data));
        QCOMPARE(Progress(), progress);
        QCOMPARE(Join(ProgressOf(host, disk)), progress);
        QCOMPARE(Messages(), std::vector<std::string>{kSource});
        QCOMPARE(host.OpenHandles(), 0);
        QCOMPARE(CountOps(host.Events(), TestHost::Op::ThreadStartFailed),
                 fault == "thread" ? 1 : 0);
    }

    void shouldFollowTheTransferOrder()
    {
        HostScope scope;
        TestHost& host = scope.host();
        host.AddSourceFile(kSource, MakeData(16385));
        const int disk = host.AddCalculator("1");
        QCOMPARE(Run(0x100000), kResultOk);
        const QStringList expected = {"pause 100",      "read 87040+15360", "command 0",
                                      "read 87040+512", "pause 100",        "write 1048576+16384",
                                      "command 99",     "read 87040+512",   "write 1064960+1",
                                      "flush",          "pause 100",        "command 100",
                                      "read 87040+512", "read 87040+15872", "pause 100",
                                      "close"};
        QCOMPARE(Trace(host, disk), expected);
        // The data lands where the seeks put it: the one before progress 0 and one per chunk.
        std::vector<std::int64_t> seeks;
        for (const auto& e : host.EventsOf(disk)) {
            if (e.op == TestHost::Op::Seek && e.offset != kMailboxOffset && e.offset != 0)
                seeks.push_back(e.offset);
        }
        QVERIFY(std::find(seeks.begin(), seeks.end(), 0x100000) != seeks.end());
        QVERIFY(std::find(seeks.begin(), seeks.end(), 0x100000 + 16384) != seeks.end());
    }

    void shouldRetryAChunkUpToSevenTimes_data()
    {
        QTest::addColumn<int>("failures");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("attempts");
        QTest::newRow("six failures, then written") << 6 << int(kResultOk) << 7;
        QTest::newRow("fails for good") << -1 << int(kResultWriteFailed) << 7;
    }
    void shouldRetryAChunkUpToSevenTimes()
    {
        QFETCH(int, failures);
        QFETCH(int, result);
        QFETCH(int, attempts);
        HostScope scope;
        TestHost& host = scope.host();
        const auto data = AddSource(host, 40000);
        const int disk = host.AddCalculator("1");
        host.EditDisk(disk, [&](TestHost::Disk& d) {
            d.dataWriteFault = {0, failures};
            d.dataWriteFaultOffset = 0x500000 + 16384; // the second chunk
        });
        QCOMPARE(Run(0x500000), result);
        int tries = 0;
        for (const auto& e : host.EventsOf(disk))
            tries += e.op == TestHost::Op::Write && e.offset == 0x500000 + 16384 ? 1 : 0;
        QCOMPARE(tries, attempts);
        const auto trace = Trace(host, disk);
        if (result == kResultOk) {
            QVERIFY(DiskHoldsExactly(host, disk, 0x500000, data));
            QCOMPARE(Progress(), QString("0 40 81 100"));
        } else {
            // No 100, no long area read after a failure; the disk is still flushed.
            QCOMPARE(Progress(), QString("0 40"));
            QCOMPARE(trace.mid(trace.size() - 3), (QStringList{"flush", "pause 100", "close"}));
        }
    }

    void shouldNeverWriteWhereASeekFailed()
    {
        HostScope scope;
        TestHost& host = scope.host();
        const auto data = AddSource(host, 20000);
        const int disk = host.AddCalculator("1");
        // The seek to the file's offset fails, leaving the disk after the mailbox area, and so
        // does the first chunk's own seek: that attempt must not write where the disk happens to
        // be.
        host.EditDisk(disk, [](TestHost::Disk& d) { d.seekFault = {1, 2}; });
        QCOMPARE(Run(0x100000), kResultOk);
        QVERIFY(DiskHoldsExactly(host, disk, 0x100000, data));
    }

    void shouldReportEachDisksFailureInTableOrder()
    {
        HostScope scope;
        TestHost& host = scope.host();
        const auto data = AddSource(host, 50000);
        const int good = host.AddCalculator("1");
        const int bad = host.AddCalculator("2");
        host.EditDisk(bad, [](TestHost::Disk& d) { d.dataWriteFault = {0, -1}; });
        QCOMPARE(Run(0), kResultWriteFailed);
        QVERIFY(DiskHoldsExactly(host, good, 0, data));
        QCOMPARE(Join(ProgressOf(host, good)), QString("0 32 65 98 100"));
        QCOMPARE(Join(ProgressOf(host, bad)), QString("0"));
        QCOMPARE(Messages().size(), std::size_t(2));
        std::vector<int> progress = g_callbacks.progress;
        std::sort(progress.begin(), progress.end());
        QCOMPARE(Join(progress), QString("0 0 32 65 98 100"));
    }

    void shouldGiveTheFirstCodeInTableOrder()
    {
        HostScope scope;
        TestHost& host = scope.host();
        host.AddSourceFile(kSource, MakeData(30000));
        const int first = host.AddCalculator("1");
        const int second = host.AddCalculator("2");
        host.EditDisk(first, [](TestHost::Disk& d) { d.dataWriteFault = {0, -1}; });
        host.EditDisk(second, [](TestHost::Disk& d) { d.openFault = {0, -1}; });
        QCOMPARE(Run(0), kResultWriteFailed);
        QCOMPARE(Messages().size(), std::size_t(2)); // announced on the 107 path too
    }

    void shouldWriteSixteenOfSeventeenCalculators()
    {
        HostScope scope;
        TestHost& host = scope.host();
        const auto data = AddSource(host, 70000);
        for (int i = 0; i < 17; ++i)
            host.AddCalculator("c" + std::to_string(i));
        QCOMPARE(Run(0x100000), kResultOk);
        for (int i = 0; i < 16; ++i)
            QVERIFY(DiskHoldsExactly(host, i, 0x100000, data));
        QVERIFY(host.EventsOf(16).empty());
        QCOMPARE(Messages().size(), std::size_t(16));
        // A writer and its read-ahead for each of the sixteen, none for the seventeenth.
        QCOMPARE(CountOps(host.Events(), TestHost::Op::ThreadStart), 2 * 16);
    }

    // A wave of a station writes, reads back and finishes the calculators it showed and no
    // other: not one plugged in meanwhile, not one an earlier wave updated.
    void shouldTouchOnlyTheSelectedCalculators_data()
    {
        QTest::addColumn<int>("calculators");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<int>("result");
        QTest::newRow("two of three") << 3 << QList<int>{2, 0} << int(kResultOk);
        QTest::newRow("past sixteen others") << 20 << QList<int>{18, 1} << int(kResultOk);
        QTest::newRow("none of them there") << 3 << QList<int>{} << int(kResultNoDevice);
    }
    void shouldTouchOnlyTheSelectedCalculators()
    {
        QFETCH(int, calculators);
        QFETCH(QList<int>, selected);
        QFETCH(int, result);
        HostScope scope;
        TestHost& host = scope.host();
        const auto data = AddSource(host, 40000);
        SourceDigest digest;
        QCOMPARE(DigestSourceFile(W(kSource).c_str(), &digest), kResultOk);
        for (int i = 0; i < calculators; ++i)
            host.AddCalculator("c" + std::to_string(i));
        DiskSelection only;
        for (int i : selected)
            QVERIFY(
                SelectDisk(&only, W(TestHost::CalculatorPath("c" + std::to_string(i))).c_str()));
        if (selected.isEmpty()) // one that is not there
            QVERIFY(SelectDisk(&only, W(TestHost::CalculatorPath("gone")).c_str()));

        QCOMPARE(RunCheckedTransfer(kVendor, kProduct, W(kSource).c_str(), 0x100000, &digest,
                                    RecordProgress, RecordMessage, &only),
                 result);
        DiskResult disks[kMaxDisks];
        QCOMPARE(GetTransferResults(disks, kMaxDisks), selected.size());
        QCOMPARE(VerifyCalculatorDisks(kVendor, kProduct, W(kSource).c_str(), 0x100000, digest,
                                       disks, kMaxDisks, &only),
                 selected.size());
        for (int i = 0; i < selected.size(); ++i)
            QCOMPARE(disks[i].result, int(kResultOk));
        QCOMPARE(FinishCalculatorDisks(kVendor, kProduct, disks, kMaxDisks, &only),
                 selected.size());
        for (int i = 0; i < calculators; ++i) {
            if (selected.contains(i)) {
                QVERIFY(DiskHoldsExactly(host, i, 0x100000, data));
                QCOMPARE(CommandsOf(host, i).back().first, kCmdFinish);
            } else {
                QVERIFY2(host.EventsOf(i).empty(), qPrintable(QString::number(i)));
            }
        }
    }

    void shouldEndEarlyFailuresWithTheirCodes_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("messages");
        QTest::addColumn<QString>("progress");
        QTest::newRow("source missing") << "missing" << int(kResultSourceOpen) << 0 << QString("");
        QTest::newRow("source gone after its size")
            << "open once" << int(kResultSourceOpen) << 0 << QString("");
        QTest::newRow("size not taken")
            << "open twice" << int(kResultSourceOpen) << 0 << QString("");
        QTest::newRow("source read fails")
            << "read" << int(kResultSourceRead) << 1 << QString("0 40 81");
        QTest::newRow("source shrank")
            << "shrink" << int(kResultSourceRead) << 1 << QString("0 40 81");
        QTest::newRow("disk does not open")
            << "disk" << int(kResultDiskNotOpen) << 1 << QString("");
        QTest::newRow("no chunk buffer") << "alloc" << int(kResultNoMemory) << 0 << QString("");
        QTest::newRow("no thread") << "thread" << int(kResultNoMemory) << 0 << QString("");
        QTest::newRow("unplugged mid-file")
            << "vanish" << int(kResultWriteFailed) << 1 << QString("0 40 81");
        QTest::newRow("path too long") << "long path" << int(kResultSourceOpen) << 0 << QString("");
    }
    void shouldEndEarlyFailuresWithTheirCodes()
    {
        QFETCH(QString, fault);
        QFETCH(int, result);
        QFETCH(int, messages);
        QFETCH(QString, progress);
        HostScope scope;
        TestHost& host = scope.host();
        std::string path = kSource;
        if (fault == "long path")
            path = "/" + std::string(kSourcePathChars, 'd') + "/f";
        if (fault != "missing")
            host.AddSourceFile(path, MakeData(40000));
        const int disk = host.AddCalculator("1");
        auto editFile = [&](const std::function<void(TestHost::SourceFile&)>& edit) {
            host.EditSourceFile(path, edit);
        };
        if (fault == "open once")
            editFile([](TestHost::SourceFile& f) { f.openFault = {1, -1}; });
        if (fault == "open twice") // the size cannot be taken, then the file opens
            editFile([](TestHost::SourceFile& f) { f.openFault = {0, 1}; });
        if (fault == "read")
            editFile([](TestHost::SourceFile& f) { f.readFault = {2, -1}; });
        if (fault == "shrink")
            editFile([](TestHost::SourceFile& f) { f.readableBytes = 16384 * 2 + 100; });
        if (fault == "disk")
            host.EditDisk(disk, [](TestHost::Disk& d) { d.openFault = {0, -1}; });
        if (fault == "alloc")
            host.allocFault = {0, -1};
        if (fault == "thread")
            host.threadStartFault = {0, -1};
        if (fault == "vanish")
            host.EditDisk(disk, [](TestHost::Disk& d) { d.vanishAfterBytes = 20000; });

        QCOMPARE(Run(0x500000, path), result);
        QCOMPARE(int(Messages().size()), messages);
        QCOMPARE(Progress(), progress);
        QCOMPARE(host.OpenHandles(), 0);
        if (fault != "vanish" && fault != "read" && fault != "shrink")
            QVERIFY(host.TouchedPages(disk).empty());
    }

    void shouldRefuseAFileOutsideTheDisk_data()
    {
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("enumerations");
        const qint64 disk = 1 << 20;
        QTest::newRow("offset -1") << qint64(-1) << qint64(40000) << int(kResultOutsideDisk) << 0;
        QTest::newRow("offset -1, empty file")
            << qint64(-1) << qint64(0) << int(kResultOutsideDisk) << 0;
        QTest::newRow("lowest offset")
            << std::numeric_limits<qint64>::min() << qint64(40000) << int(kResultOutsideDisk) << 0;
        QTest::newRow("ends one byte past the end")
            << disk - 39999 << qint64(40000) << int(kResultOutsideDisk) << 1;
        QTest::newRow("begins past the end")
            << disk + 1 << qint64(0) << int(kResultOutsideDisk) << 1;
        QTest::newRow("highest offset")
            << std::numeric_limits<qint64>::max() << qint64(40000) << int(kResultOutsideDisk) << 1;
        QTest::newRow("ends at the end") << disk - 40000 << qint64(40000) << int(kResultOk) << 1;
    }
    void shouldRefuseAFileOutsideTheDisk()
    {
        QFETCH(qint64, offset);
        QFETCH(qint64, size);
        QFETCH(int, result);
        QFETCH(int, enumerations);
        HostScope scope;
        TestHost& host = scope.host();
        const auto data = AddSource(host, size);
        const int disk = host.AddCalculator("1");
        host.EditDisk(disk, [](TestHost::Disk& d) { d.size = 1 << 20; });
        QCOMPARE(Run(offset), result);
        QCOMPARE(CountOps(host.Events(), TestHost::Op::Enumerate), enumerations);
        if (result == kResultOk) {
            QVERIFY(DiskHoldsExactly(host, disk, offset, data));
            return;
        }
        QVERIFY(host.TouchedPages(disk).empty());
        QVERIFY(CommandsOf(host, disk).empty());
        QCOMPARE(Progress(), QString());
        QCOMPARE(host.OpenHandles(), 0);
    }

    void shouldWriteADiskThatDoesNotTellItsSize()
    {
        HostScope scope;
        TestHost& host = scope.host();
        const auto data = AddSource(host, 40000);
        const int disk = host.AddCalculator("1");
        host.EditDisk(disk, [](TestHost::Disk& d) { d.sizeUnknown = true; });
        QCOMPARE(Run(0x100000), kResultOk);
        QVERIFY(DiskHoldsExactly(host, disk, 0x100000, data));
    }

    void shouldNotCallASuccessADiskWhoseThreadDidNotStart()
    {
        HostScope scope;
        TestHost& host = scope.host();
        const auto data = AddSource(host, 1000);
        host.AddCalculator("1");
        const int skipped = host.AddCalculator("2");
        host.threadStartFault = {1, 1};
        QCOMPARE(Run(0), kResultNoMemory);
        QVERIFY(DiskHoldsExactly(host, 0, 0, data));
        QVERIFY(host.TouchedPages(skipped).empty());
    }

    void shouldReportNoDeviceWithoutCallbacks()
    {
        HostScope scope;
        TestHost& host = scope.host();
        host.AddSourceFile(kSource, MakeData(100));
        host.AddDisk(TestHost::UsbDiskPath("generic", "flash_disk", "x"));
        host.AddDisk(TestHost::SataDiskPath("kz", "zenta_update"));
        g_progressCallback = nullptr;
        QCOMPARE(Run(0), kResultNoDevice);
        QCOMPARE(CountOps(host.Events(), TestHost::Op::Enumerate), 6);
        QCOMPARE(host.SleptMs(), 3000);
        QCOMPARE(CountOps(host.Events(), TestHost::Op::Open), 0);
        QVERIFY(Progress().isEmpty() && Messages().empty());
        QVERIFY(g_progressCallback == nullptr); // the slots are left as they were
    }

    void shouldGoOnWhenTheCalculatorRefusesProgress()
    {
        HostScope scope;
        TestHost& host = scope.host();
        const auto data = AddSource(host, 16385);
        const int disk = host.AddCalculator("1");
        host.EditDisk(disk, [](TestHost::Disk& d) { d.refuseProgress = -1; });
        QCOMPARE(Run(0), kResultOk);
        QVERIFY(DiskHoldsExactly(host, disk, 0, data));
        QCOMPARE(ProgressOf(host, disk).size(), std::size_t(18)); // 0, 99 and 100, six times each
        QCOMPARE(Progress(), QString("0 99 100"));
    }

    // A disk that failed says why in the engine's log: the window's "107" or "112" alone cannot.
    void shouldLogWhyADiskFailed_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("line");
        const QString disk =
            QString::fromStdString("calculator disk " + TestHost::CalculatorPath("2") + ": ");
        const QString notOpened = disk + "not opened (a transfer to it ends with 107): ";
        QTest::newRow("held by another program")
            << "busy" << int(kResultDiskNotOpen)
            << notOpened + "busy: held by another program (system error 16)";
        QTest::newRow("no permission") << "denied" << int(kResultDiskNotOpen)
                                       << notOpened + "permission denied (system error 13)";
        QTest::newRow("unplugged before the open")
            << "gone" << int(kResultDiskNotOpen)
            << notOpened + "gone: no such device or file (system error 2)";
        QTest::newRow("every write fails")
            << "write" << int(kResultWriteFailed)
            << disk + "a write failed 7 times (112): failed (system error 5)";
        QTest::newRow("unplugged mid-file")
            << "vanish" << int(kResultWriteFailed)
            << disk + "a write failed 7 times (112): gone: no such device or file (system error 6)";
    }
    void shouldLogWhyADiskFailed()
    {
        QFETCH(QString, fault);
        QFETCH(int, result);
        QFETCH(QString, line);
        HostScope scope;
        TestHost& host = scope.host();
        AddSource(host, 70000);
        host.AddCalculator("1");
        const int failing = host.AddCalculator("2");
        host.EditDisk(failing, [&fault](TestHost::Disk& d) {
            if (fault == "busy" || fault == "denied" || fault == "gone") {
                d.openFault = {0, -1};
                d.openFailure = fault == "busy"     ? HostError{HostFailure::Busy, 16}
                                : fault == "denied" ? HostError{HostFailure::Denied, 13}
                                                    : HostError{HostFailure::Gone, 2};
            }
            if (fault == "write")
                d.dataWriteFault = {0, -1};
            if (fault == "vanish")
                d.vanishAfterBytes = 30000;
        });
        g_log.clear();
        SetEngineLog(RecordLogLine);
        const int got = Run(0);
        SetEngineLog(nullptr);
        QCOMPARE(got, result);
        QCOMPARE(g_log.size(), std::size_t(1)); // the calculator that took the file says nothing
        QCOMPARE(QString::fromStdString(g_log[0]), line);
    }

    void shouldSkipEmptyCallbackSlots()
    {
        HostScope scope;
        TestHost& host = scope.host();
        const auto data = AddSource(host, 33000);
        const int disk = host.AddCalculator("1");
        QCOMPARE(RunTransfer(kVendor, kProduct, W(kSource).c_str(), 0, nullptr, nullptr),
                 kResultOk);
        QVERIFY(DiskHoldsExactly(host, disk, 0, data));
    }
};

QTEST_GUILESS_MAIN(TestTransfer)
#include "tst_transfer.moc"
