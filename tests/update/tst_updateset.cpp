#include "engine_fixture.h"

#include "update/update_set.h"

#include <QCryptographicHash>
#include <QtTest>

using Sizes = QVector<qint64>;

class TestUpdateSet : public QObject {
    Q_OBJECT
private slots:
    void shouldRefuseSetBeforeAnyWrite_data();
    void shouldRefuseSetBeforeAnyWrite();
};

void TestUpdateSet::shouldRefuseSetBeforeAnyWrite_data()
{
    QTest::addColumn<Sizes>("files"); // applications, system, KESTOL: the order of writing
    QTest::addColumn<Sizes>("disks"); // calculators present; -1: one whose size is unknown
    // Of the third file: "open", "read" or none; "stop": Ctrl-C came.
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("refused");
    QTest::addColumn<QString>("reason");
    const qint64 disk = 64 << 20;
    QTest::newRow("whole set fits")
        << Sizes{0x300000, 0x1000, 0x200000} << Sizes{disk} << QString() << 0 << -1 << QString();
    QTest::newRow("every place filled to the byte")
        << Sizes{0x400000, 0x100000, 0x400000} << Sizes{0x900000} << QString() << 0 << -1
        << QString();
    QTest::newRow("third file cannot be opened")
        << Sizes{1000, 1000, 1000} << Sizes{disk} << "open" << 105 << 2
        << "ZENTA_KESTOL.DAT: cannot be opened as a plain file";
    QTest::newRow("third file's reads fail")
        << Sizes{1000, 1000, 1000} << Sizes{disk} << "read" << 109 << 2
        << "ZENTA_KESTOL.DAT: cannot be read to its end";
    QTest::newRow("system image of 2 MiB")
        << Sizes{1000, 0x200000, 1000} << Sizes{disk} << QString() << 111 << 1
        << "ZENTA_OS.ROM: 2097152 bytes, but its place on the calculator holds 1048576";
    QTest::newRow("KESTOL data into the applications' place")
        << Sizes{1000, 1000, 0x400001} << Sizes{disk} << QString() << 111 << 2
        << "ZENTA_KESTOL.DAT: 4194305 bytes, but its place on the calculator holds 4194304";
    QTest::newRow("applications image past the disk's end")
        << Sizes{0x400000, 1000, 1000} << Sizes{0x800000} << QString() << 111 << 0
        << "ZENTA_APP.DAT: 4194304 bytes, but its place on the calculator holds 3145728";
    QTest::newRow("applications image past the smaller disk's end")
        << Sizes{0x400000, 1000, 1000} << Sizes{disk, 0x800000, -1} << QString() << 111 << 0
        << "ZENTA_APP.DAT: 4194304 bytes, but its place on the calculator holds 3145728";
    QTest::newRow("disk of unknown size refuses nothing")
        << Sizes{0x400000, 1000, 1000} << Sizes{-1} << QString() << 0 << -1 << QString();
    // Every file is weighed against its place by its size before any is read: a file far too
    // large for it is refused at once, not after a read of all of it.
    // Ctrl-C during the check: it ends before its next read.
    QTest::newRow("stopped") << Sizes{0x300000, 1000, 1000} << Sizes{disk} << "stop"
                             << int(kResultStopped) << 0 << QString();
    QTest::newRow("larger file named before an unreadable one")
        << Sizes{1000, 0x200000, 1000} << Sizes{disk} << "read" << 111 << 1
        << "ZENTA_OS.ROM: 2097152 bytes, but its place on the calculator holds 1048576";
}

void TestUpdateSet::shouldRefuseSetBeforeAnyWrite()
{
    QFETCH(Sizes, files);
    QFETCH(Sizes, disks);
    QFETCH(QString, fault);
    QFETCH(int, result);
    QFETCH(int, refused);
    QFETCH(QString, reason);
    HostScope scope;
    TestHost& host = scope.host();
    for (int i = 0; i < disks.size(); ++i) {
        const std::int64_t size = disks[i];
        host.EditDisk(host.AddCalculator("SN" + std::to_string(i)), [size](TestHost::Disk& d) {
            if (size < 0)
                d.openFault = {0, -1};
            else
                d.size = size;
        });
    }
    const QVector<UpdateSetEntry> set{
        {"/update/ZENTA_APP.DAT", "ZENTA_APP.DAT", 0x500000, -1},
        {"/update/ZENTA_OS.ROM", "ZENTA_OS.ROM", 0, 0x100000},
        {"/update/ZENTA_KESTOL.DAT", "ZENTA_KESTOL.DAT", 0x100000, 0x500000}};
    QVector<QByteArray> contents;
    for (int i = 0; i < set.size(); ++i) {
        const std::vector<unsigned char> data = MakeData(files[i], unsigned(i + 1));
        contents << QByteArray(reinterpret_cast<const char*>(data.data()), int(data.size()));
        host.AddSourceFile(set[i].path.toStdString(), data);
    }
    host.EditSourceFile(set[2].path.toStdString(), [&fault](TestHost::SourceFile& f) {
        if (fault == "open")
            f.openFault = {0, -1};
        if (fault == "read")
            f.readFault = {0, -1};
    });

    const std::atomic<bool> stop{fault == "stop"};
    const UpdateSetCheck check = checkUpdateSet(set, calculatorDiskSizes(kVendor, kProduct), &stop);
    QCOMPARE(check.result, result);
    QCOMPARE(check.refused, refused);
    QCOMPARE(check.reason, reason);
    QCOMPARE(check.digests.size(), result == 0 ? set.size() : 0);
    for (int i = 0; i < check.digests.size(); ++i) {
        const SourceDigest& digest = check.digests[i];
        QCOMPARE(qint64(digest.size), qint64(contents[i].size()));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(digest.sha256), 32),
                 QCryptographicHash::hash(contents[i], QCryptographicHash::Sha256));
    }
    QCOMPARE(CountOps(host.Events(), TestHost::Op::Write), 0);
    if (result == kResultOutsideDisk || result == kResultStopped) {
        int reads = 0;
        for (const UpdateSetEntry& entry : set)
            host.EditSourceFile(entry.path.toStdString(),
                                [&reads](TestHost::SourceFile& f) { reads += f.readSeen; });
        QCOMPARE(reads, 0);
    }
    for (int i = 0; i < disks.size(); ++i)
        QVERIFY(host.TouchedPages(i).empty());
}

QTEST_GUILESS_MAIN(TestUpdateSet)

#include "tst_updateset.moc"
