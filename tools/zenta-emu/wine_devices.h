// The disks as a Windows program under Wine sees them: a list of disk interface paths, which a
// stand-in SetupAPI (tests/wine/setupapi) reads at every enumeration, and for each path a device
// name in the Wine prefix that leads to the disk's file.
#pragma once

#include "testbed.h"

#include <string>
#include <vector>

// The interface path Windows gives a disk of this identity, in the lower case of its device
// names: "\\?\usbstor#disk&ven_kz&prod_zenta_update&rev_1.00#zt0001&0#{53f56307-...}" for a
// USB disk, a "scsi#disk&..." path for one on a SATA port (`instance` tells those apart).
std::string WindowsInterfacePath(const DiskIdentity& identity, int instance);
// "Z:\tmp\x" for "/tmp/x": Wine's drive Z: is the root of the Unix file system.
std::string WindowsPath(const std::string& unixPath);

class WineDevices {
public:
    // `prefix`: the Wine prefix (its dosdevices folder gets the device names); `listFile`: where
    // the list of present interfaces is kept.
    WineDevices(std::string prefix, std::string listFile);
    ~WineDevices();
    WineDevices(const WineDevices&) = delete;
    WineDevices& operator=(const WineDevices&) = delete;

    // An empty list, before any disk is plugged in.
    bool Start(std::string* error);
    // The interface `path` is there, its device name leading to `target`; false on failure.
    bool Add(const std::string& path, const std::string& target, std::string* error);
    // Gone from the list and from the device names.
    void Remove(const std::string& path);
    const std::string& ListFile() const { return listFile_; }

private:
    bool WriteList(std::string* error) const;
    std::string DeviceName(const std::string& path) const;

    std::string prefix_;
    std::string listFile_;
    std::vector<std::string> present_; // in plug order: the enumeration order
};
