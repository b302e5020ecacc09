// What udev knows of the disks: the Linux host's only use of it.
#pragma once

#include "device/linux_disk_paths.h"

#include <string>
#include <sys/types.h>
#include <vector>

// What the latest enumeration saw of one disk: enough to open it and to check, once open, that
// the node still belongs to the same disk.
struct KnownDisk {
    std::string devnode;
    dev_t devnum = 0;
    LinuxDiskInfo info;
};

// Every whole disk (no partitions) that has a device node, as udev sees it now. False when udev
// cannot be asked; the list is then empty.
bool ListWholeDisks(std::vector<KnownDisk>* disks);

// True when the block device devnum is, now, a whole disk with exactly this identity: a node
// reused by another disk since the enumeration must not be written.
bool IsSameDisk(dev_t devnum, const LinuxDiskInfo& info);
