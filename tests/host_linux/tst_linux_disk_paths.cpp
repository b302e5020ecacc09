#include "device/discovery.h"
#include "device/linux_disk_paths.h"
#include "device/text16.h"

#include <QtTest>

#include <string>
#include <vector>

Q_DECLARE_METATYPE(std::string)

namespace {

const std::string kCalculator = "\\\\?\\usbstor#disk&ven_kz&prod_zenta_update";
const std::string kClass = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const std::string kPort = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2";

LinuxDiskInfo Disk(DiskBus bus, const std::string& vendor, const std::string& product,
                   const std::string& serial, const std::string& location = kPort)
{
    LinuxDiskInfo disk;
    disk.bus = bus;
    disk.vendor = vendor;
    disk.product = product;
    disk.revision = "1.00";
    disk.serial = serial;
    disk.location = location;
    return disk;
}

} // namespace

class TestLinuxDiskPaths : public QObject {
    Q_OBJECT
private slots:
    void path_data();
    void path();
    void madeUpIdIsStableAndPerPort();
    void sameSerialTwice();
};

void TestLinuxDiskPaths::path_data()
{
    QTest::addColumn<int>("bus");
    QTest::addColumn<std::string>("vendor");
    QTest::addColumn<std::string>("product");
    QTest::addColumn<std::string>("serial");
    QTest::addColumn<uint>("lun");
    // "{id}" stands for the made-up id of kPort.
    QTest::addColumn<std::string>("expected");
    QTest::addColumn<bool>("calculator");

    const int usb = int(DiskBus::Usb);
    QTest::newRow("calculator")
        << usb << std::string("KZ      ") << std::string("Zenta update    ")
        << std::string("ABC123") << 0u
        << std::string("\\\\?\\usbstor#disk&ven_kz&prod_zenta_update&rev_1.00#abc123&0#") + kClass
        << true;
    QTest::newRow("second logical unit")
        << usb << std::string("KZ") << std::string("Zenta update") << std::string("abc123") << 1u
        << std::string("\\\\?\\usbstor#disk&ven_kz&prod_zenta_update&rev_1.00#abc123&1#") + kClass
        << true;
    QTest::newRow("serial forging the calculator")
        << usb << std::string("SanDisk ") << std::string("Cruzer Blade    ")
        << std::string("\\\\?\\usbstor#disk&ven_kz&prod_zenta_update") << 0u
        << "\\\\?\\usbstor#disk&ven_sandisk&prod_cruzer_blade&rev_1.00#"
           "____usbstor_disk_ven_kz_prod_zenta_update&0#" +
               kClass
        << false;
    QTest::newRow("vendor forging the product")
        << usb << std::string("KZ&prod_zenta_update&x") << std::string("Stick") << std::string("1")
        << 0u << "\\\\?\\usbstor#disk&ven_kz_prod_zenta_update_x&prod_stick&rev_1.00#1&0#" + kClass
        << false;
    QTest::newRow("longer product")
        << usb << std::string("KZ") << std::string("Zenta updater v9") << std::string("1") << 0u
        << "\\\\?\\usbstor#disk&ven_kz&prod_zenta_updater_v9&rev_1.00#1&0#" + kClass << false;
    QTest::newRow("product forging a separator")
        << usb << std::string("KZ") << std::string("Zenta update&x") << std::string("1") << 0u
        << "\\\\?\\usbstor#disk&ven_kz&prod_zenta_update_x&rev_1.00#1&0#" + kClass << false;
    QTest::newRow("product forging an instance")
        << usb << std::string("KZ") << std::string("Zenta update#1") << std::string("1") << 0u
        << "\\\\?\\usbstor#disk&ven_kz&prod_zenta_update_1&rev_1.00#1&0#" + kClass << false;
    // Strings that fold into the calculator's tokens are not its strings: only "KZ" and
    // "Zenta update" themselves, padded or not, name a calculator (as the udev rule has it).
    for (const auto& lookalike :
         {std::make_pair("kz", "Zenta update"), std::make_pair("KZ", "ZENTA UPDATE"),
          std::make_pair("KZ", "Zenta_update"), std::make_pair("KZ", "Zenta*update"),
          std::make_pair(" KZ", "Zenta update"), std::make_pair("KZ", "Zenta\tupdate")}) {
        QTest::newRow(
            qPrintable(QString("look-alike %1 / %2").arg(lookalike.first, lookalike.second)))
            << usb << std::string(lookalike.first) << std::string(lookalike.second)
            << std::string("1") << 0u
            << "\\\\?\\usbstor#disk&ven_~kz&prod_zenta_update&rev_1.00#1&0#" + kClass << false;
    }
    QTest::newRow("non-ASCII and control bytes")
        << usb << std::string(" A\tB ") << std::string("x\xc3\x84y") << std::string("s#1\n2/") << 0u
        << "\\\\?\\usbstor#disk&ven_a_b&prod_x__y&rev_1.00#s_1_2_&0#" + kClass << false;
    QTest::newRow("no serial") << usb << std::string("KZ") << std::string("Zenta update")
                               << std::string() << 0u
                               << "\\\\?\\usbstor#disk&ven_kz&prod_zenta_update&rev_1.00#{id}&0#" +
                                      kClass
                               << true;
    QTest::newRow("blank serial")
        << usb << std::string("KZ") << std::string("Zenta update") << std::string("    ") << 0u
        << "\\\\?\\usbstor#disk&ven_kz&prod_zenta_update&rev_1.00#{id}&0#" + kClass << true;
    QTest::newRow("SATA disk with the calculator's strings")
        << int(DiskBus::Scsi) << std::string("KZ      ") << std::string("Zenta update    ")
        << std::string("ABC123") << 0u
        << "\\\\?\\scsi#disk&ven_kz&prod_zenta_update&rev_1.00#{id}&0#" + kClass << false;
    QTest::newRow("NVMe") << int(DiskBus::Nvme) << std::string("KZ") << std::string("Zenta update")
                          << std::string() << 0u
                          << "\\\\?\\nvme#disk&ven_kz&prod_zenta_update&rev_1.00#{id}&0#" + kClass
                          << false;
    QTest::newRow("virtio") << int(DiskBus::Virtio) << std::string() << std::string()
                            << std::string() << 0u
                            << "\\\\?\\virtio#disk&ven_&prod_&rev_1.00#{id}&0#" + kClass << false;
    QTest::newRow("loop") << int(DiskBus::Other) << std::string("KZ") << std::string("Zenta update")
                          << std::string() << 0u
                          << "\\\\?\\other#disk&ven_kz&prod_zenta_update&rev_1.00#{id}&0#" + kClass
                          << false;
}

void TestLinuxDiskPaths::path()
{
    QFETCH(int, bus);
    QFETCH(std::string, vendor);
    QFETCH(std::string, product);
    QFETCH(std::string, serial);
    QFETCH(uint, lun);
    QFETCH(std::string, expected);
    QFETCH(bool, calculator);
    LinuxDiskInfo disk = Disk(DiskBus(bus), vendor, product, serial);
    disk.lun = lun;
    const std::size_t id = expected.find("{id}");
    if (id != std::string::npos) {
        expected.replace(id, 4, MadeUpInstanceId(kPort));
    }

    const std::string path = DiskInterfacePathOf(disk);
    QCOMPARE(QString::fromStdString(path), QString::fromStdString(expected));
    // Whatever its strings say, only the calculator's own kind of disk matches its pattern.
    QCOMPARE(MatchesDiskPattern(Utf8ToUtf16(path).c_str(), Utf8ToUtf16(kCalculator).c_str()),
             calculator);
}

void TestLinuxDiskPaths::madeUpIdIsStableAndPerPort()
{
    // FNV-1a known answers: the id must not change between runs or builds, as std::hash may.
    QCOMPARE(QString::fromStdString(MadeUpInstanceId("")), QString("0&cbf29ce484222325"));
    QCOMPARE(QString::fromStdString(MadeUpInstanceId("a")), QString("0&af63dc4c8601ec8c"));

    const LinuxDiskInfo port2 = Disk(DiskBus::Usb, "KZ", "Zenta update", "", kPort);
    const LinuxDiskInfo port3 = Disk(DiskBus::Usb, "KZ", "Zenta update", "", kPort + "/3");
    QVERIFY(DiskInterfacePathOf(port2) != DiskInterfacePathOf(port3));
    // A made-up id holds an '&', which a sanitized serial cannot: no serial can take its place.
    const LinuxDiskInfo forged =
        Disk(DiskBus::Usb, "KZ", "Zenta update", MadeUpInstanceId(kPort), kPort + "/4");
    QVERIFY(DiskInterfacePathOf(forged) != DiskInterfacePathOf(port2));
}

void TestLinuxDiskPaths::sameSerialTwice()
{
    const std::vector<LinuxDiskInfo> disks = {
        Disk(DiskBus::Usb, "KZ", "Zenta update", "SAME", kPort),
        Disk(DiskBus::Usb, "KZ", "Zenta update", "OTHER", kPort + "/5"),
        Disk(DiskBus::Usb, "KZ", "Zenta update", "SAME", kPort + "/6"),
        // Two records of one location: no path can tell them apart.
        Disk(DiskBus::Scsi, "A", "B", "", "/sys/devices/x"),
        Disk(DiskBus::Scsi, "A", "B", "", "/sys/devices/x"),
    };
    const std::vector<std::string> paths = DiskInterfacePathsOf(disks);
    QCOMPARE(paths.size(), disks.size());
    QCOMPARE(paths[0], DiskInterfacePathOf(disks[0], true));
    QCOMPARE(paths[1], DiskInterfacePathOf(disks[1]));
    QCOMPARE(paths[2], DiskInterfacePathOf(disks[2], true));
    QVERIFY(paths[0] != paths[2]);
    QVERIFY(paths[3].empty() && paths[4].empty());
}

QTEST_APPLESS_MAIN(TestLinuxDiskPaths)
#include "tst_linux_disk_paths.moc"
