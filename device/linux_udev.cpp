// The disks as udev sees them: whole disks, their bus, vendor and product ids.
#include "device/linux_udev.h"

#include <cstdlib>
#include <cstring>
#include <libudev.h>
#include <memory>

namespace {

struct UdevFree {
    void operator()(udev* context) const { udev_unref(context); }
    void operator()(udev_enumerate* enumeration) const { udev_enumerate_unref(enumeration); }
    void operator()(udev_device* device) const { udev_device_unref(device); }
};
using UdevPtr = std::unique_ptr<udev, UdevFree>;
using EnumeratePtr = std::unique_ptr<udev_enumerate, UdevFree>;
using DevicePtr = std::unique_ptr<udev_device, UdevFree>;

std::string Attribute(udev_device* device, const char* name)
{
    const char* value = udev_device_get_sysattr_value(device, name);
    return value != nullptr ? value : "";
}

bool IsWholeDisk(udev_device* device)
{
    const char* subsystem = udev_device_get_subsystem(device);
    const char* type = udev_device_get_devtype(device);
    return subsystem != nullptr && type != nullptr && std::strcmp(subsystem, "block") == 0 &&
           std::strcmp(type, "disk") == 0;
}

unsigned LunOf(udev_device* scsiDevice)
{
    // A SCSI device is named host:channel:target:lun.
    const char* name = udev_device_get_sysname(scsiDevice);
    const char* colon = name != nullptr ? std::strrchr(name, ':') : nullptr;
    if (colon == nullptr || colon[1] < '0' || colon[1] > '9')
        return 0;
    char* end = nullptr;
    unsigned long lun = std::strtoul(colon + 1, &end, 10);
    return *end == '\0' && lun <= 0xffffffffu ? static_cast<unsigned>(lun) : 0;
}

DiskBus BusOfNonUsb(udev_device* disk, bool onScsi)
{
    if (onScsi)
        return DiskBus::Scsi;
    for (udev_device* parent = udev_device_get_parent(disk); parent != nullptr;
         parent = udev_device_get_parent(parent)) {
        const char* subsystem = udev_device_get_subsystem(parent);
        if (subsystem == nullptr)
            continue;
        if (std::strcmp(subsystem, "nvme") == 0)
            return DiskBus::Nvme;
        if (std::strcmp(subsystem, "virtio") == 0)
            return DiskBus::Virtio;
        if (std::strcmp(subsystem, "mmc") == 0)
            return DiskBus::Mmc;
    }
    return DiskBus::Other;
}

LinuxDiskInfo DiskInfoOf(udev_device* disk)
{
    LinuxDiskInfo info;
    udev_device* scsi = udev_device_get_parent_with_subsystem_devtype(disk, "scsi", "scsi_device");
    if (scsi != nullptr) {
        info.vendor = Attribute(scsi, "vendor");
        info.product = Attribute(scsi, "model");
        info.revision = Attribute(scsi, "rev");
        info.lun = LunOf(scsi);
    }
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(disk, "usb", "usb_device");
    if (usb != nullptr) {
        info.bus = DiskBus::Usb;
        info.serial = Attribute(usb, "serial");
        const char* location = udev_device_get_syspath(usb);
        info.location = location != nullptr ? location : "";
    } else {
        info.bus = BusOfNonUsb(disk, scsi != nullptr);
        const char* location = udev_device_get_syspath(disk);
        info.location = location != nullptr ? location : "";
    }
    return info;
}

bool SameDisk(const LinuxDiskInfo& a, const LinuxDiskInfo& b)
{
    return a.bus == b.bus && a.vendor == b.vendor && a.product == b.product &&
           a.revision == b.revision && a.serial == b.serial && a.location == b.location &&
           a.lun == b.lun;
}

} // namespace

bool ListWholeDisks(std::vector<KnownDisk>* disks)
{
    disks->clear();
    UdevPtr context(udev_new());
    EnumeratePtr enumeration(context ? udev_enumerate_new(context.get()) : nullptr);
    bool scanned = enumeration &&
                   udev_enumerate_add_match_subsystem(enumeration.get(), "block") >= 0 &&
                   udev_enumerate_scan_devices(enumeration.get()) >= 0;
    if (scanned) {
        udev_list_entry* entry;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get()))
        {
            DevicePtr device(
                udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
            // Partitions are no disk interfaces; a disk with no node cannot be opened.
            if (!device || !IsWholeDisk(device.get()))
                continue;
            const char* devnode = udev_device_get_devnode(device.get());
            if (devnode == nullptr)
                continue;
            KnownDisk disk;
            disk.devnode = devnode;
            disk.devnum = udev_device_get_devnum(device.get());
            disk.info = DiskInfoOf(device.get());
            disks->push_back(disk);
        }
    }

    return scanned;
}

bool IsSameDisk(dev_t devnum, const LinuxDiskInfo& info)
{
    UdevPtr context(udev_new());
    DevicePtr device(context ? udev_device_new_from_devnum(context.get(), 'b', devnum) : nullptr);
    return device && IsWholeDisk(device.get()) && SameDisk(DiskInfoOf(device.get()), info);
}
