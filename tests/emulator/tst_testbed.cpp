// Before Qt: GLib names a member "signals", which Qt defines as a macro.
#include <umockdev.h>

#include "device/linux_disk_paths.h"
#include "device/linux_udev.h"
#include "testbed.h"

#include <QtTest>

#include <algorithm>
#include <sys/sysmacros.h>
#include <unistd.h>

// The emulator's test bed as the updater's Linux host sees it, under umockdev's preload.

namespace {

const std::string kCalculatorPath = "\\\\?\\usbstor#disk&ven_kz&prod_zenta_update&rev_1.00#"
                                    "zt0001&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

DiskPlacement Placement(int port, const std::string& node, unsigned major, unsigned minor)
{
    DiskPlacement placement;
    placement.port = port;
    placement.scsiHost = 5 + port;
    placement.node = node;
    placement.major = major;
    placement.minor = minor;
    placement.sectors = 131072;
    return placement;
}

const KnownDisk* Find(const std::vector<KnownDisk>& disks, const std::string& node)
{
    auto found = std::find_if(disks.begin(), disks.end(),
                              [&](const KnownDisk& disk) { return disk.devnode == node; });
    return found != disks.end() ? &*found : nullptr;
}

} // namespace

class TestTestbed : public QObject {
    Q_OBJECT
private slots:
    void disksAsTheHostSeesThem();
    void unpluggedAndPluggedInAgain();
};

void TestTestbed::disksAsTheHostSeesThem()
{
    Testbed testbed;
    QVERIFY2(umockdev_in_mock_environment(),
             "needs umockdev's preload: run under umockdev-wrapper");
    PluggedDisk plugged;
    std::string error;
    QVERIFY2(testbed.AddDisk(CalculatorIdentity("ZT0001"), Placement(1, "sdb", 8, 16), "/dev/null",
                             &plugged, &error),
             error.c_str());
    const DiskIdentity stick = {true, "SanDisk ", "Cruzer Blade    ", "1.00", "4C5300"};
    QVERIFY(testbed.AddDisk(stick, Placement(2, "sdc", 8, 32), "/dev/zero", &plugged, &error));
    const DiskIdentity sata = {false, "KZ      ", "Zenta update    ", "1.00", ""};
    QVERIFY(testbed.AddDisk(sata, Placement(3, "sdd", 8, 48), "/dev/null", &plugged, &error));

    std::vector<KnownDisk> disks;
    QVERIFY(ListWholeDisks(&disks));
    QCOMPARE(disks.size(), std::size_t(3));
    const KnownDisk* calculator = Find(disks, "/dev/sdb");
    QVERIFY(calculator != nullptr);
    QCOMPARE(calculator->info.bus, DiskBus::Usb);
    // Padded as the kernel pads inquiry strings.
    QCOMPARE(calculator->info.vendor, std::string("KZ      "));
    QCOMPARE(calculator->info.product, std::string("Zenta update    "));
    QCOMPARE(calculator->info.serial, std::string("ZT0001"));
    QCOMPARE(calculator->devnum, makedev(8, 16));
    QVERIFY(IsSameDisk(makedev(8, 16), calculator->info));
    QCOMPARE(DiskInterfacePathOf(calculator->info), kCalculatorPath);
    QCOMPARE(Find(disks, "/dev/sdd")->info.bus, DiskBus::Scsi);
    QCOMPARE(Find(disks, "/dev/sdc")->info.vendor, std::string("SanDisk "));

    char target[64] = {};
    QVERIFY(readlink((testbed.RootDir() + "/dev/sdb").c_str(), target, sizeof target - 1) > 0);
    QCOMPARE(std::string(target), std::string("/dev/null"));
}

void TestTestbed::unpluggedAndPluggedInAgain()
{
    Testbed testbed;
    PluggedDisk first;
    std::string error;
    QVERIFY(testbed.AddDisk(CalculatorIdentity("ZT0001"), Placement(1, "sdb", 7, 3), "/dev/null",
                            &first, &error));
    std::vector<KnownDisk> disks;
    QVERIFY(ListWholeDisks(&disks));
    QCOMPARE(disks.size(), std::size_t(1));
    const LinuxDiskInfo info = disks[0].info;

    testbed.RemoveDisk(first);
    QVERIFY(ListWholeDisks(&disks));
    QVERIFY(disks.empty());
    QVERIFY(!IsSameDisk(makedev(7, 3), info));
    QVERIFY(access((testbed.RootDir() + "/dev/sdb").c_str(), F_OK) != 0);

    // Back on another port, under another name, with the device number it had: a loop device
    // is often given the same one again.
    PluggedDisk again;
    QVERIFY2(testbed.AddDisk(CalculatorIdentity("ZT0001"), Placement(2, "sdc", 7, 3), "/dev/null",
                             &again, &error),
             error.c_str());
    QVERIFY(ListWholeDisks(&disks));
    QCOMPARE(disks.size(), std::size_t(1));
    QCOMPARE(disks[0].devnode, std::string("/dev/sdc"));
    QVERIFY(IsSameDisk(makedev(7, 3), disks[0].info));
    QCOMPARE(DiskInterfacePathOf(disks[0].info), kCalculatorPath);
}

QTEST_GUILESS_MAIN(TestTestbed)
#include "tst_testbed.moc"
