#include "child_process.h"
#include "emulated_disk.h"
#include "sparse_image.h"

#include <QCryptographicHash>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <sys/wait.h>
#include <vector>

// The emulator's own plumbing: the updater's process and environment, and the disk images.

class TestRunner : public QObject {
    Q_OBJECT
private slots:
    void childWithItsEnvironmentAndLog();
    void childThatWillNotEndIsEnded();
    void environmentEntries();
    void imageReadsEarlierContentsUntilWritten();
    void earlierContentsOfOnesOwn();
    void plainDiskCountsWrites();
};

void TestRunner::childWithItsEnvironmentAndLog()
{
    QTemporaryDir folder;
    const std::string log = folder.filePath("child.log").toStdString();
    std::vector<std::string> environment = {"PATH=/usr/bin:/bin"};
    SetVariable(&environment, "GREETING", "hello from the emulator");
    ChildProcess child;
    std::string error;
    QVERIFY(child.Start({"/bin/sh", "-c", "echo \"$GREETING\"; echo oops >&2; exit 3"}, environment,
                        log, &error));
    for (int i = 0; i < 500 && !child.Poll(); ++i) {
        QTest::qSleep(10);
    }
    QVERIFY(child.Poll().has_value());
    QCOMPARE(ChildProcess::Describe(*child.Poll()), std::string("exit code 3"));
    QFile file(QString::fromStdString(log));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("hello from the emulator\noops\n"));

    ChildProcess missing;
    QVERIFY(missing.Start({"/nonexistent/updater"}, environment, log, &error));
    for (int i = 0; i < 500 && !missing.Poll(); ++i) {
        QTest::qSleep(10);
    }
    QCOMPARE(ChildProcess::Describe(missing.Poll().value_or(-1)), std::string("exit code 127"));
}

void TestRunner::childThatWillNotEndIsEnded()
{
    QTemporaryDir folder;
    ChildProcess child;
    std::string error;
    // Deaf to SIGTERM: only the second, harder signal ends it.
    QVERIFY(child.Start({"/bin/sh", "-c", "trap '' TERM; while :; do sleep 0.05; done"},
                        {"PATH=/usr/bin:/bin"}, folder.filePath("log").toStdString(), &error));
    QTest::qSleep(200);
    QVERIFY(child.Running());
    child.Stop(300);
    QVERIFY(!child.Running());
    QCOMPARE(ChildProcess::Describe(*child.Poll()), std::string("killed by signal 9"));
}

void TestRunner::environmentEntries()
{
    std::vector<std::string> environment = {"A=1", "AB=2", "EMPTY="};
    SetVariable(&environment, "A", "3");
    SetVariable(&environment, "C", "4");
    QCOMPARE(environment, (std::vector<std::string>{"A=3", "AB=2", "EMPTY=", "C=4"}));
    QCOMPARE(GetVariable(environment, "AB"), std::string("2"));
    QCOMPARE(GetVariable(environment, "B"), std::string());
    QVERIFY(!CurrentEnvironment().empty());
}

void TestRunner::imageReadsEarlierContentsUntilWritten()
{
    SparseImage image(1 << 20, 7);
    SparseImage same(1 << 20, 7);
    SparseImage other(1 << 20, 8);
    std::vector<unsigned char> a(100000);
    std::vector<unsigned char> b(100000);
    image.Read(30000, a.size(), a.data());
    same.Read(30000, b.size(), b.data());
    QVERIFY(a == b); // the same disk reads the same
    other.Read(30000, b.size(), b.data());
    QVERIFY(a != b); // another disk does not
    QCOMPARE(image.AllocatedBytes(), std::uint64_t(0));

    // A write across two blocks; the bytes around it keep their earlier contents.
    std::vector<unsigned char> data(1000, 0x5A);
    image.Write(65000, data.size(), data.data());
    QCOMPARE(image.AllocatedBytes(), std::uint64_t(2 * 65536));
    image.Read(30000, a.size(), a.data());
    for (std::size_t i = 0; i < a.size(); ++i) {
        const std::uint64_t at = 30000 + i;
        const bool written = at >= 65000 && at < 66000;
        QCOMPARE(a[i], written ? static_cast<unsigned char>(0x5A) : image.Earlier(at));
    }
    const QByteArray expected = QCryptographicHash::hash(
        QByteArray(reinterpret_cast<const char*>(a.data()), static_cast<int>(a.size())),
        QCryptographicHash::Sha256);
    QCOMPARE(image.Sha256(30000, a.size()), expected);
    // Only the bytes that differ count as changed: the first and last 0x5A may equal the
    // earlier bytes by chance, so the change lies within the written stretch.
    const Extents changed = image.Changes();
    QVERIFY(!changed.Empty());
    QVERIFY(changed.Lowest() >= 65000 && changed.Highest() <= 66000);
}

void TestRunner::earlierContentsOfOnesOwn()
{
    // A file system put on the disk before: it reads back, and counts as no change.
    SparseImage image(1 << 20, 7);
    const QByteArray fileSystem(70000, 'F');
    image.SetEarlier(1024, fileSystem);
    std::vector<unsigned char> read(fileSystem.size());
    image.Read(1024, read.size(), read.data());
    QVERIFY(std::all_of(read.begin(), read.end(), [](unsigned char c) { return c == 'F'; }));
    QCOMPARE(image.Earlier(1023), SparseImage(1 << 20, 7).Earlier(1023));
    image.Write(1024, read.size(), read.data());
    QVERIFY(image.Changes().Empty());
    const unsigned char other = 'G';
    image.Write(50000, 1, &other);
    QCOMPARE(image.Changes().Lowest(), std::uint64_t(50000));
    QCOMPARE(image.Changes().Bytes(), std::uint64_t(1));
}

void TestRunner::plainDiskCountsWrites()
{
    PlainDisk disk(1 << 20, 3);
    unsigned char sector[512];
    QCOMPARE(disk.Read(0, sizeof sector, sector), 0);
    QVERIFY(disk.Unchanged());
    QCOMPARE(disk.Write(512, sizeof sector, sector), 0);
    QCOMPARE(disk.Reads(), std::uint64_t(1));
    QCOMPARE(disk.Writes(), std::uint64_t(1));
    QVERIFY(!disk.Unchanged());
}

QTEST_GUILESS_MAIN(TestRunner)
#include "tst_runner.moc"
