// The umockdev test bed: the sysfs and /dev the updater sees, and the disks plugged into it.
#pragma once

#include <cstdint>
#include <string>

typedef struct _UMockdevTestbed UMockdevTestbed;

// What a disk tells the host about itself.
struct DiskIdentity {
    bool usb = true; // on a USB port through usb-storage; otherwise on a SATA port
    // SCSI inquiry strings, padded with spaces as the kernel shows them (8, 16 and 4 bytes).
    std::string vendor;
    std::string model;
    std::string revision;
    std::string serial; // the USB device's serial
};

// A Zenta calculator in update mode: inquiry strings padded as the kernel pads them.
DiskIdentity CalculatorIdentity(const std::string& serial);

// Where and under which names the kernel put it.
struct DiskPlacement {
    int port = 1;     // USB port 1-<port>, or SATA port ata<port>
    int scsiHost = 6; // SCSI host number
    std::string node; // kernel name, e.g. sdb
    unsigned major = 8;
    unsigned minor = 16;
    std::uint64_t sectors = 0; // 512-byte sectors
};

// A disk in the test bed, as it is taken away again.
struct PluggedDisk {
    std::string top;   // the USB device, or the SCSI host of a SATA disk
    std::string block; // the block device
    std::string node;  // its /dev node in the test bed
    std::string link;  // its /sys/dev/block/major:minor link in the test bed
};

// The sysfs and /dev that the updater sees through umockdev's preload.
class Testbed {
public:
    Testbed();
    Testbed(const Testbed&) = delete;
    Testbed& operator=(const Testbed&) = delete;
    ~Testbed();

    std::string RootDir() const;
    // Adds a disk whose /dev node is a link to `nodeTarget`; false on failure.
    bool AddDisk(const DiskIdentity& identity, const DiskPlacement& placement,
                 const std::string& nodeTarget, PluggedDisk* plugged, std::string* error);
    // Unplugs: the disk and everything below it leave sysfs, and its node goes.
    void RemoveDisk(const PluggedDisk& plugged);

private:
    UMockdevTestbed* testbed_ = nullptr;
};

// The description of a disk in umockdev's text format (without the inquiry strings, whose
// padding that format would not keep); exposed for tests.
std::string DescribeDisk(const DiskIdentity& identity, const DiskPlacement& placement,
                         std::string* topPath, std::string* blockPath);
