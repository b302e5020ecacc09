// Before Qt: GLib names a member "signals", which Qt defines as a macro.
#include <umockdev.h>

#include "device/engine.h"
#include "device/host.h"
#include "device/linux_disk_paths.h"
#include "device/text16.h"
#include "test_support.h"

#include <QtTest>

#include <algorithm>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// Runs under umockdev's preload: /sys and /dev are those of the test bed made here.

namespace {

const QString kPattern = "\\\\?\\usbstor#disk&ven_kz&prod_zenta_update";
const QString kClass = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const QByteArray kUsbBus = "/devices/pci0000:00/0000:00:14.0/usb1";
const QByteArray kAtaPort = "/devices/pci0000:00/0000:00:17.0/ata1";

struct DiskSpec {
    QByteArray name;   // kernel name, e.g. sdb
    QByteArray devnum; // major:minor
    QByteArray vendor;
    QByteArray model;
};

// The SCSI host, target, device, block disk and one partition below `parent`, as the kernel
// shows a disk in sysfs.
QByteArray ScsiDisk(const QByteArray& parent, int host, const DiskSpec& disk)
{
    QByteArray text = R"(P: @parent@/host@h@
E: SUBSYSTEM=scsi
E: DEVTYPE=scsi_host

P: @parent@/host@h@/target@h@:0:0
E: SUBSYSTEM=scsi
E: DEVTYPE=scsi_target

P: @scsi@
E: SUBSYSTEM=scsi
E: DEVTYPE=scsi_device
A: vendor=@vendor@
A: model=@model@
A: rev=1.00

P: @scsi@/block/@name@
N: @name@
E: SUBSYSTEM=block
E: DEVTYPE=disk
E: DEVNAME=/dev/@name@
E: MAJOR=@major@
E: MINOR=@minor@
A: dev=@major@:@minor@
L: device=../../../@h@:0:0:0

P: @scsi@/block/@name@/@name@1
N: @name@1
E: SUBSYSTEM=block
E: DEVTYPE=partition
E: DEVNAME=/dev/@name@1
E: MAJOR=@major@
E: MINOR=@partition@
A: dev=@major@:@partition@

)";
    const QList<QByteArray> number = disk.devnum.split(':');
    text.replace("@scsi@", "@parent@/host@h@/target@h@:0:0/@h@:0:0:0")
        .replace("@parent@", parent)
        .replace("@h@", QByteArray::number(host))
        .replace("@vendor@", disk.vendor)
        .replace("@model@", disk.model)
        .replace("@name@", disk.name)
        .replace("@major@", number[0])
        .replace("@minor@", number[1])
        .replace("@partition@", QByteArray::number(number[1].toInt() + 1));
    return text;
}

QByteArray UsbDisk(const QByteArray& port, const QByteArray& serial, int host, const DiskSpec& disk)
{
    const QByteArray usb = kUsbBus + "/" + port;
    return "P: " + usb + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: serial=" + serial +
           "\n\nP: " + usb + "/" + port + ":1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n\n" +
           ScsiDisk(usb + "/" + port + ":1.0", host, disk);
}

QString CalculatorPath(const QString& serial)
{
    return "\\\\?\\usbstor#disk&ven_kz&prod_zenta_update&rev_1.00#" + serial + "&0#" + kClass;
}

} // namespace

class TestHostLinux : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    // A new test bed for each test: umockdev cannot open a node of a device added again.
    void init();
    void cleanup();

    void enumeration();
    void pathCapacity();
    void openOnlyWhatTheLatestEnumerationListed();
    void openChecksTheNodeIsStillTheListedDisk_data();
    void openChecksTheNodeIsStillTheListedDisk();
    void sourceFile();
    void threads();

private:
    UMockdevTestbed* testbed_ = nullptr;
};

void TestHostLinux::initTestCase()
{
    init();
    // Tells only once a test bed exists.
    QVERIFY2(umockdev_in_mock_environment(),
             "needs umockdev's preload: run under umockdev-wrapper");
    cleanup();
}

void TestHostLinux::init()
{
    testbed_ = umockdev_testbed_new();
}

void TestHostLinux::cleanup()
{
    g_object_unref(testbed_);
    testbed_ = nullptr;
}

void TestHostLinux::enumeration()
{
    const QByteArray description =
        UsbDisk("1-2", "ABC123", 6, {"sdb", "8:16", "KZ      ", "Zenta update    "}) +
        ScsiDisk(kAtaPort, 0, {"sda", "8:0", "KZ      ", "Zenta update    "}) +
        UsbDisk("1-3", "1", 7, {"sdc", "8:32", "SanDisk ", "Cruzer Blade    "});
    QVERIFY(umockdev_testbed_add_from_string(testbed_, description.constData(), nullptr));
    // Set apart: the description format would take the backslashes for escapes.
    umockdev_testbed_set_attribute(testbed_, ("/sys" + kUsbBus + "/1-3").constData(), "serial",
                                   "\\\\?\\usbstor#disk&ven_kz&prod_zenta_update");

    const std::string sata = MadeUpInstanceId(
        "/sys" + (kAtaPort + "/host0/target0:0:0/0:0:0:0/block/sda").toStdString());
    const QStringList expected = {
        "\\\\?\\scsi#disk&ven_kz&prod_zenta_update&rev_1.00#" + QString::fromStdString(sata) +
            "&0#" + kClass,
        CalculatorPath("abc123"),
        "\\\\?\\usbstor#disk&ven_sandisk&prod_cruzer_blade&rev_1.00#"
        "____usbstor_disk_ven_kz_prod_zenta_update&0#" +
            kClass,
    };
    const QStringList paths = Enumerate();
    QCOMPARE(paths, expected);
    QCOMPARE(paths.filter(kPattern).size(), 1);
    QVERIFY(paths.filter(kPattern).first().startsWith(kPattern));
}

void TestHostLinux::pathCapacity()
{
    const QByteArray description =
        UsbDisk("1-2", "ABC123", 6, {"sdb", "8:16", "KZ", "Zenta update"});
    QVERIFY(umockdev_testbed_add_from_string(testbed_, description.constData(), nullptr));
    const int length = CalculatorPath("abc123").size();
    Host& host = NativeHost();
    void* list = host.BeginDiskInterfaces();
    QVERIFY(list != nullptr);
    WChar path[kDiskPathChars];
    std::fill(path, path + kDiskPathChars, WChar('x'));
    QCOMPARE(host.DiskInterfacePath(list, 0, path, length), InterfaceStatus::TooLong);
    QCOMPARE(path[0], WChar('x')); // nothing copied
    QCOMPARE(host.DiskInterfacePath(list, 0, path, length + 1), InterfaceStatus::Ok);
    QCOMPARE(QString::fromUtf16(path), CalculatorPath("abc123"));
    QCOMPARE(host.DiskInterfacePath(list, 1, path, length + 1), InterfaceStatus::End);
    QCOMPARE(host.DiskInterfacePath(list, -1, path, length + 1), InterfaceStatus::End);
    host.EndDiskInterfaces(list);
}

void TestHostLinux::openOnlyWhatTheLatestEnumerationListed()
{
    Host& host = NativeHost();
    const QByteArray description =
        UsbDisk("1-2", "ABC123", 6, {"sdb", "8:16", "KZ", "Zenta update"});
    QVERIFY(umockdev_testbed_add_from_string(testbed_, description.constData(), nullptr));
    const QString listed = CalculatorPath("abc123");
    QCOMPARE(Enumerate(), QStringList{listed});

    const QStringList refused = {
        CalculatorPath("abc124"), listed.toUpper(), listed + " ", "/dev/sdb", "sdb", "",
    };
    for (const QString& path : refused) {
        QVERIFY2(host.OpenDisk(ToHost(path).c_str()) == kInvalidHandle, qPrintable(path));
    }
    FileHandle file = host.OpenDisk(ToHost(listed).c_str());
    QVERIFY(file != kInvalidHandle);
    host.Close(file);
    // Its node, for people to recognise the disk; none for a path that was not listed.
    WChar node[kDiskNameChars];
    QVERIFY(host.DiskNode(ToHost(listed).c_str(), node, kDiskNameChars));
    QCOMPARE(QString::fromUtf16(node), QString("/dev/sdb"));
    QVERIFY(!host.DiskNode(ToHost(refused.first()).c_str(), node, kDiskNameChars));
    QCOMPARE(node[0], WChar(0));

    // Listed by an earlier enumeration only: the disk is gone.
    umockdev_testbed_remove_device(testbed_, ("/sys" + kUsbBus + "/1-2").constData());
    QCOMPARE(Enumerate(), QStringList());
    QCOMPARE(host.OpenDisk(ToHost(listed).c_str()), kInvalidHandle);
    QVERIFY(!host.DiskNode(ToHost(listed).c_str(), node, kDiskNameChars));
}

void TestHostLinux::openChecksTheNodeIsStillTheListedDisk_data()
{
    QTest::addColumn<int>("minorShift");     // the enumeration saw this much another minor number
    QTest::addColumn<bool>("serialChanged"); // another calculator took the node after it
    QTest::addColumn<bool>("opens");
    QTest::newRow("same disk") << 0 << false << true;
    QTest::newRow("another device number") << 100 << false << false;
    QTest::newRow("another serial") << 0 << true << false;
}

void TestHostLinux::openChecksTheNodeIsStillTheListedDisk()
{
    QFETCH(int, minorShift);
    QFETCH(bool, serialChanged);
    QFETCH(bool, opens);
    if (geteuid() != 0) {
        QSKIP("loop devices need root");
    }
    QTemporaryDir directory;
    const QString image = MakeImage(directory, 65536);
    QVERIFY(!image.isEmpty());
    LoopDevice loop;
    if (!loop.Attach(image, 512)) {
        QSKIP("losetup could not attach a loop device");
    }
    // A calculator whose node is the loop device: a real block device with a device number.
    const QList<QByteArray> number = loop.devnum.split(':');
    const QByteArray claimed = number[0] + ":" + QByteArray::number(number[1].toInt() + minorShift);
    const QByteArray description =
        UsbDisk("1-4", "LOOP1", 9, {"sdq", claimed, "KZ", "Zenta update"});
    QVERIFY(umockdev_testbed_add_from_string(testbed_, description.constData(), nullptr));
    char* root = umockdev_testbed_get_root_dir(testbed_);
    const QByteArray node = QByteArray(root) + "/dev/sdq";
    g_free(root);
    QCOMPARE(unlink(node.constData()), 0);
    QCOMPARE(symlink(loop.node.toLocal8Bit().constData(), node.constData()), 0);

    const QString path = CalculatorPath("loop1");
    QCOMPARE(Enumerate(), QStringList{path});
    if (serialChanged) {
        umockdev_testbed_set_attribute(testbed_, ("/sys" + kUsbBus + "/1-4").constData(), "serial",
                                       "LOOP2");
    }
    FileHandle file = NativeHost().OpenDisk(ToHost(path).c_str());
    QCOMPARE(file != kInvalidHandle, opens);
    if (opens) {
        // Its size too, although umockdev's preload takes the block device ioctls here.
        QCOMPARE(NativeHost().Size(file), std::int64_t(65536));
    }
    NativeHost().Close(file);
}

void TestHostLinux::sourceFile()
{
    Host& host = NativeHost();
    QTemporaryDir directory;
    QVERIFY(directory.isValid());
    const QString name = directory.filePath("firmware \xc3\xa9.bin");
    const QByteArray content = Pattern(10000, 9);
    {
        QFile file(name);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    }
    const WChar loneSurrogate[] = {u'/', 0xD800, 0};
    // A FIFO, even behind a link, has no writer here: opening it must not wait for one.
    const QString fifo = directory.filePath("fifo");
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QVERIFY(QFile::link(fifo, name + ".link"));
    for (const QString& other : {fifo, name + ".link", QString("/dev/null")}) {
        QVERIFY2(host.OpenSourceFile(ToHost(other).c_str()) == kInvalidHandle, qPrintable(other));
    }
    QCOMPARE(host.OpenSourceFile(ToHost(directory.path()).c_str()), kInvalidHandle);
    QCOMPARE(host.OpenSourceFile(ToHost(name + ".missing").c_str()), kInvalidHandle);
    QCOMPARE(host.OpenSourceFile(loneSurrogate), kInvalidHandle);

    FileHandle file = host.OpenSourceFile(ToHost(name).c_str());
    QVERIFY(file != kInvalidHandle);
    QCOMPARE(host.Size(file), std::int64_t(10000));
    QByteArray buffer(4096, 0);
    std::uint32_t done = 0;
    // Whole reads until the end, one short read at the end, then nothing.
    for (std::uint32_t expected : {4096u, 4096u, 1808u, 0u}) {
        const std::int64_t at = host.Seek(file, 0, SeekFrom::Current);
        QVERIFY(host.Read(file, buffer.data(), 4096, &done));
        QCOMPARE(done, expected);
        QCOMPARE(buffer.left(int(done)), content.mid(int(at), int(done)));
    }
    QCOMPARE(host.Seek(file, 5000, SeekFrom::Start), std::int64_t(5000));
    QCOMPARE(host.Seek(file, -6000, SeekFrom::Current), std::int64_t(-1));
    QVERIFY(host.Read(file, buffer.data(), 10, &done));
    QCOMPARE(buffer.left(10), content.mid(5000, 10));
    QVERIFY(!host.Write(file, buffer.data(), 10, &done));
    host.Close(file);
    // A closed handle is refused, not followed.
    QVERIFY(!host.Read(file, buffer.data(), 10, &done));
}

void TestHostLinux::threads()
{
    Host& host = NativeHost();
    std::vector<int> arguments = {3, 5, 7};
    std::vector<ThreadHandle> threads;
    for (int& argument : arguments) {
        threads.push_back(host.StartThread(
            [](void* arg) {
                int* value = static_cast<int*>(arg);
                *value *= 10;
                return *value + 1;
            },
            &argument));
        QVERIFY(threads.back() != 0);
    }
    threads.push_back(0); // no thread: its result cannot be read, and is no success
    std::vector<int> codes(threads.size(), -7);
    host.JoinThreads(threads.data(), int(threads.size()), codes.data());
    QCOMPARE(codes, (std::vector<int>{31, 51, 71, 110}));
    QCOMPARE(arguments, (std::vector<int>{30, 50, 70}));
}

QTEST_GUILESS_MAIN(TestHostLinux)
#include "tst_host_linux.moc"
