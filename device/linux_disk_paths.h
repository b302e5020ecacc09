// Linux names a disk /dev/sdX, which says nothing of what it is and changes between plug-ins.
// The engine recognises a calculator by the device interface path that Windows gives it, so the
// Linux host forms that same path from what sysfs knows of the disk.
#pragma once

#include <string>
#include <vector>

// The bus a disk hangs on. Only Usb yields "usbstor", the form a calculator's path has.
enum class DiskBus { Usb, Scsi, Nvme, Virtio, Mmc, Other };

struct LinuxDiskInfo {
    DiskBus bus = DiskBus::Other;
    // SCSI inquiry strings as sysfs gives them (vendor, model, rev), padded or not.
    std::string vendor;
    std::string product;
    std::string revision;
    // The USB device's serial attribute; empty when it has none.
    std::string serial;
    // A sysfs path that stays the same while the disk stays on the same port: the USB device's
    // for a USB disk, the disk's own parent otherwise. The made-up id is derived from it.
    std::string location;
    // The SCSI logical unit number; Windows ends the instance id with it.
    unsigned lun = 0;
};

// One inquiry string or serial as Windows puts it in an interface path: surrounding spaces
// dropped, every byte other than an ASCII letter, digit, '_', '-' or '.' turned into '_', then
// lower case. No attribute can thus bring in a '#', '&' or '\' of its own.
std::string SanitizeIdPart(const std::string& text);

// True for inquiry strings that fold into a calculator's ids in a path ("kz", "ZENTA UPDATE",
// "Zenta_update") without being its strings: vendor "KZ" and model "Zenta update", give or take
// the spaces SCSI pads them with. The kernel gives the exact strings, and only those are a
// calculator's; such a disk's path gets a vendor part no calculator's can match.
bool IsCalculatorLookalike(const std::string& vendor, const std::string& product);

// A stable made-up instance id for a disk with no usable serial, from its location. It holds an
// '&', which no sanitized serial can, so it never equals a real serial.
std::string MadeUpInstanceId(const std::string& location);

// The Windows-style device interface path of one disk, e.g.
// \\?\usbstor#disk&ven_kz&prod_zenta_update&rev_1.00#abc123&0#{53f56307-...}.
// useMadeUpId forces the location-based id even when there is a serial.
std::string DiskInterfacePathOf(const LinuxDiskInfo& disk, bool useMadeUpId = false);

// The paths of all the disks of one enumeration, in the same order. Disks whose serial-based
// paths would be equal (two devices sold with the same serial) get location-based ids instead;
// a path that is still not unique comes back empty, so that it is never listed nor opened: one
// path must name one disk.
std::vector<std::string> DiskInterfacePathsOf(const std::vector<LinuxDiskInfo>& disks);
