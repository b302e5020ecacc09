#include "device/host.h"
#include "device/linux_disk_paths.h"
#include "test_support.h"

#include <QtTest>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

// Raw I/O through the host on real block devices: loop devices that the kernel checks as strictly
// as a disk opened with O_DIRECT. Needs root; not under umockdev, whose preload would take the
// block device ioctls.

class TestHostLoop : public QObject {
    Q_OBJECT
private slots:
    void rawIo_data();
    void rawIo();
    void refusesADiskHeldByAnother_data();
    void refusesADiskHeldByAnother();
};

void TestHostLoop::rawIo_data()
{
    QTest::addColumn<uint>("sectorSize");
    QTest::newRow("512-byte sectors") << 512u;
    QTest::newRow("4096-byte sectors") << 4096u;
}

void TestHostLoop::rawIo()
{
    QFETCH(uint, sectorSize);
    if (geteuid() != 0) {
        QSKIP("loop devices need root");
    }
    const int size = 1024 * 1024;
    QTemporaryDir directory;
    QVERIFY(directory.isValid());
    const QString image = directory.filePath("disk.img");
    QByteArray expected = Pattern(size, 1);
    {
        QFile file(image);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(expected) == size);
    }
    LoopDevice loop;
    if (!loop.Attach(image, sectorSize)) {
        QSKIP("losetup could not attach a loop device with this sector size");
    }
    // The kernel's own disk, listed by the real enumeration under a path of its own bus.
    LinuxDiskInfo info;
    info.location = "/sys/devices/virtual/block/" + QFileInfo(loop.node).fileName().toStdString();
    const QString path = QString::fromStdString(DiskInterfacePathOf(info));
    QVERIFY(Enumerate().contains(path));
    QVERIFY(!path.contains("usbstor"));

    Host& host = NativeHost();
    FileHandle disk = host.OpenDisk(ToHost(path).c_str());
    QVERIFY(disk != kInvalidHandle);
    QCOMPARE(host.Size(disk), std::int64_t(size));

    // Unaligned heads and tails, a write across bounce windows, an aligned 16 KiB chunk from an
    // I/O buffer, and the very last bytes of the disk.
    const std::vector<std::pair<int, int>> writes = {
        {1, 1}, {511, 2}, {4095, 4098}, {100000, 70000}, {16384, 16384}, {size - 3, 3}, {8192, 0},
    };
    void* ioBuffer = host.AllocIoBuffer(80000);
    QVERIFY(ioBuffer != nullptr);
    unsigned seed = 2;
    for (const auto& write : writes) {
        const QByteArray data = Pattern(write.second, seed++);
        std::memcpy(ioBuffer, data.constData(), data.size());
        std::uint32_t done = 12345;
        QCOMPARE(host.Seek(disk, write.first, SeekFrom::Start), std::int64_t(write.first));
        QVERIFY(host.Write(disk, ioBuffer, write.second, &done));
        QCOMPARE(done, std::uint32_t(write.second));
        QCOMPARE(host.Seek(disk, 0, SeekFrom::Current), std::int64_t(write.first + write.second));
        expected.replace(write.first, write.second, data);
    }
    // Past the end: refused whole, nothing written.
    std::uint32_t done = 12345;
    QCOMPARE(host.Seek(disk, size - 2, SeekFrom::Start), std::int64_t(size - 2));
    QVERIFY(!host.Write(disk, ioBuffer, 4, &done));
    QCOMPARE(done, 0u);
    QVERIFY(host.Flush(disk));

    char* readBack = static_cast<char*>(ioBuffer);
    QCOMPARE(host.Seek(disk, 99999, SeekFrom::Start), std::int64_t(99999));
    QVERIFY(host.Read(disk, readBack + 1, 70002, &done));
    QCOMPARE(done, 70002u);
    QCOMPARE(QByteArray(readBack + 1, 70002), expected.mid(99999, 70002));
    host.FreeIoBuffer(ioBuffer);
    host.Close(disk);
    QVERIFY(loop.Detach());

    QFile file(image);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray actual = file.readAll();
    QCOMPARE(actual.size(), size);
    for (int i = 0; i < size; ++i) {
        if (actual[i] != expected[i]) {
            QFAIL(qPrintable(QString("byte %1 differs").arg(i)));
        }
    }
}

void TestHostLoop::refusesADiskHeldByAnother_data()
{
    QTest::addColumn<bool>("mounted");
    QTest::newRow("held open exclusively") << false;
    QTest::newRow("mounted") << true;
}

void TestHostLoop::refusesADiskHeldByAnother()
{
    QFETCH(bool, mounted);
    if (geteuid() != 0) {
        QSKIP("loop devices need root");
    }
    QTemporaryDir directory;
    const QString image = MakeImage(directory, 1024 * 1024);
    QVERIFY(!image.isEmpty());
    if (mounted && !Run("mkfs.ext2", {"-q", "-F", image})) {
        QSKIP("mkfs.ext2 could not make a file system");
    }
    LoopDevice loop;
    if (!loop.Attach(image, 512)) {
        QSKIP("losetup could not attach a loop device");
    }
    LinuxDiskInfo info;
    info.location = "/sys/devices/virtual/block/" + QFileInfo(loop.node).fileName().toStdString();
    const String16 path = ToHost(QString::fromStdString(DiskInterfacePathOf(info)));
    QVERIFY(Enumerate().contains(QString::fromUtf16(path.c_str())));
    Host& host = NativeHost();

    // Held exclusively elsewhere, or mounted: not opened.
    const QByteArray node = loop.node.toLocal8Bit();
    const QString mountPoint = directory.filePath("mnt");
    int holder = -1;
    if (mounted) {
        QVERIFY(QDir().mkdir(mountPoint));
        if (!Run("mount", {"-o", "ro", loop.node, mountPoint})) {
            QSKIP("mount is refused here");
        }
    } else {
        holder = open(node.constData(), O_RDONLY | O_EXCL | O_CLOEXEC);
        QVERIFY(holder >= 0);
    }
    const FileHandle refused = host.OpenDisk(path.c_str());
    host.Close(refused);
    if (mounted) {
        QVERIFY(Run("umount", {mountPoint}));
    } else {
        close(holder);
    }
    QCOMPARE(refused, kInvalidHandle);

    // Once free it opens, and then holds it so that no one else takes it while it writes.
    const FileHandle disk = host.OpenDisk(path.c_str());
    QVERIFY(disk != kInvalidHandle);
    const int other = open(node.constData(), O_RDONLY | O_EXCL | O_CLOEXEC);
    const int error = errno;
    if (other >= 0) {
        close(other);
    }
    host.Close(disk);
    QCOMPARE(other, -1);
    QCOMPARE(error, EBUSY);
}

QTEST_GUILESS_MAIN(TestHostLoop)
#include "tst_host_loop.moc"
