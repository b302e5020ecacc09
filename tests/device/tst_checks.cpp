#include "engine_fixture.h"

#include <QCryptographicHash>

#include <cstring>

namespace {

const std::string kSource = "/updates/ZENTA_APP.DAT";

SourceDigest DigestOf(const std::vector<unsigned char>& data)
{
    SourceDigest digest;
    digest.size = static_cast<std::int64_t>(data.size());
    const QByteArray sum = QCryptographicHash::hash(
        QByteArray(reinterpret_cast<const char*>(data.data()), int(data.size())),
        QCryptographicHash::Sha256);
    std::memcpy(digest.sha256, sum.constData(), 32);
    for (std::size_t at = 0; at < data.size(); at += kChunkSize) {
        const std::size_t length = std::min<std::size_t>(kChunkSize, data.size() - at);
        const QByteArray piece = QCryptographicHash::hash(
            QByteArray(reinterpret_cast<const char*>(data.data() + at), int(length)),
            QCryptographicHash::Sha256);
        digest.chunks.emplace_back();
        std::memcpy(digest.chunks.back().sha256, piece.constData(), 32);
    }
    return digest;
}

int RunChecked(const SourceDigest* expected, std::int64_t diskOffset = 0x500000)
{
    return RunCheckedTransfer(kVendor, kProduct, W(kSource).c_str(), diskOffset, expected,
                              RecordProgress, RecordMessage);
}

std::vector<int> CallbackProgress()
{
    std::lock_guard<std::mutex> guard(g_callbacks.lock);
    return g_callbacks.progress;
}

// Everything a calculator and the host saw, without which thread did it.
QStringList Log(const TestHost& host)
{
    QStringList out;
    for (const auto& e : host.Events()) {
        out << QString("%1 %2 %3 %4 %5 %6 %7")
                   .arg(int(e.op))
                   .arg(e.disk)
                   .arg(e.offset)
                   .arg(e.length)
                   .arg(e.code)
                   .arg(e.parameter)
                   .arg(e.ok);
    }
    return out;
}

} // namespace

class TestChecks : public QObject {
    Q_OBJECT

private slots:
    void shouldDigestASourceFile_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<int>("result");
        QTest::newRow("empty") << "" << qint64(0) << int(kResultOk);
        QTest::newRow("one chunk") << "" << qint64(16384) << int(kResultOk);
        QTest::newRow("odd size") << "" << qint64(100001) << int(kResultOk);
        QTest::newRow("missing") << "missing" << qint64(100) << int(kResultSourceOpen);
        QTest::newRow("read fails") << "read" << qint64(40000) << int(kResultSourceRead);
        QTest::newRow("ends before its size")
            << "shrink" << qint64(40000) << int(kResultSourceRead);
        QTest::newRow("no buffer") << "alloc" << qint64(100) << int(kResultNoMemory);
    }
    void shouldDigestASourceFile()
    {
        QFETCH(QString, fault);
        QFETCH(qint64, size);
        QFETCH(int, result);
        HostScope scope;
        TestHost& host = scope.host();
        const auto data = MakeData(size, 7);
        if (fault != "missing")
            host.AddSourceFile(kSource, data);
        if (fault == "read")
            host.EditSourceFile(kSource, [](TestHost::SourceFile& f) { f.readFault = {1, -1}; });
        if (fault == "shrink")
            host.EditSourceFile(kSource, [](TestHost::SourceFile& f) { f.readableBytes = 30000; });
        if (fault == "alloc")
            host.allocFault = {0, -1};

        SourceDigest digest;
        digest.size = 12345;
        QCOMPARE(DigestSourceFile(W(kSource).c_str(), &digest), result);
        const SourceDigest expected = DigestOf(data);
        if (result == kResultOk) {
            QCOMPARE(digest.size, expected.size);
            QVERIFY(std::memcmp(digest.sha256, expected.sha256, 32) == 0);
            QCOMPARE(digest.chunks.size(), expected.chunks.size());
            for (std::size_t i = 0; i < digest.chunks.size(); ++i)
                QVERIFY(std::memcmp(digest.chunks[i].sha256, expected.chunks[i].sha256, 32) == 0);
        } else {
            QCOMPARE(digest.size, std::int64_t(12345)); // a failure leaves the record alone
        }
        QCOMPARE(host.OpenHandles(), 0);
    }

    void shouldGiveTheSizesOfTheCalculatorDisks_data()
    {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<QString>("sizes");
        QTest::newRow("all") << 16 << "67108864 -1 8388608";
        QTest::newRow("fewer slots than disks") << 2 << "67108864 -1";
        QTest::newRow("no slot") << 0 << "";
    }
    void shouldGiveTheSizesOfTheCalculatorDisks()
    {
        QFETCH(int, capacity);
        QFETCH(QString, sizes);
        HostScope scope;
        TestHost& host = scope.host();
        host.AddDisk(TestHost::UsbDiskPath("generic", "flash_disk", "x"));
        host.AddCalculator("1");
        const int closed = host.AddCalculator("2");
        const int small = host.AddCalculator("3");
        host.EditDisk(closed, [](TestHost::Disk& d) { d.openFault = {0, -1}; });
        host.EditDisk(small, [](TestHost::Disk& d) { d.size = 8 << 20; });
        std::vector<std::int64_t> out(16, -7);
        const int found = GetCalculatorDiskSizes(kVendor, kProduct, out.data(), capacity);
        out.resize(static_cast<std::size_t>(std::max(found, 0)));
        QCOMPARE(Join(out), sizes);
        QCOMPARE(CountOps(host.Events(), TestHost::Op::Enumerate), capacity > 0 ? 1 : 0);
        QCOMPARE(host.OpenHandles(), 0);
    }

    void shouldSeeTheSameTransferWhenTheFileIsUnchanged()
    {
        const auto data = MakeData(50000);
        const SourceDigest expected = DigestOf(data);
        QStringList logs[2];
        for (int checked = 0; checked < 2; ++checked) {
            HostScope scope;
            TestHost& host = scope.host();
            host.AddSourceFile(kSource, data);
            const int disk = host.AddCalculator("1");
            QCOMPARE(RunChecked(checked != 0 ? &expected : nullptr), kResultOk);
            QVERIFY(DiskHoldsExactly(host, disk, 0x500000, data));
            QCOMPARE(Join(CallbackProgress()), QString("0 32 65 98 100"));
            logs[checked] = Log(host);
        }
        QCOMPARE(logs[1], logs[0]);
    }

    void shouldFailAFileThatIsNoLongerTheOneChecked_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("written"); // bytes of the file that reach the disk
        // Byte 30000 lies in the second chunk: only the first one is written.
        QTest::newRow("rewritten in place during the transfer") << "rewrite" << 16384;
        QTest::newRow("shrank during the transfer") << "shrink" << 16384;
        QTest::newRow("grew during the transfer") << "grow" << 50000;
        QTest::newRow("other size before the transfer") << "resize" << 0;
        // Replaced by a file of the same size after the check: its first two chunks are the
        // same, the third is not and never leaves.
        QTest::newRow("other bytes before the transfer") << "replace" << 32768;
        QTest::newRow("a digest without chunk sums") << "no sums" << 0;
    }
    void shouldFailAFileThatIsNoLongerTheOneChecked()
    {
        QFETCH(QString, change);
        QFETCH(int, written);
        HostScope scope;
        TestHost& host = scope.host();
        const auto data = MakeData(50000);
        SourceDigest expected = DigestOf(data);
        host.AddSourceFile(kSource, data);
        const int disk = host.AddCalculator("1");
        host.EditSourceFile(kSource, [&](TestHost::SourceFile& f) {
            if (change == "resize")
                f.data.resize(40000);
            if (change == "replace")
                f.data[40000] ^= 0xFF;
        });
        if (change == "no sums")
            expected.chunks.clear();
        // The change lands at the second pause of the transfer thread, after progress 0 and
        // before the first chunk.
        int pauses = 0;
        host.onSleep = [&](int ms) {
            if (ms != 100 || ++pauses != 2)
                return;
            host.EditSourceFile(kSource, [&](TestHost::SourceFile& f) {
                if (change == "rewrite")
                    f.data[30000] ^= 0xFF;
                if (change == "shrink")
                    f.data.resize(20000);
                if (change == "grow")
                    f.data.push_back(0);
            });
        };

        for (int attempt = 0; attempt < 2; ++attempt) {
            ResetCallbacks();
            QCOMPARE(RunChecked(&expected), kResultSourceRead);
            const auto progress = CallbackProgress();
            QVERIFY2(std::find(progress.begin(), progress.end(), 100) == progress.end(),
                     qPrintable(Join(progress)));
            const auto sent = ProgressOf(host, disk);
            QVERIFY(std::find(sent.begin(), sent.end(), 100u) == sent.end());
        }
        QVERIFY(DiskHoldsExactly(host, disk, 0x500000,
                                 std::vector<unsigned char>(data.begin(), data.begin() + written)));
        QCOMPARE(host.OpenHandles(), 0);
    }
};

QTEST_GUILESS_MAIN(TestChecks)
#include "tst_checks.moc"
