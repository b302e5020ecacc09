// The emulated hardware as a whole: the disks, their FUSE mount and the test bed.
#pragma once

#include "calculator.h"
#include "fuse_disks.h"
#include "loop_device.h"
#include "testbed.h"
#include "wine_devices.h"

#include <memory>
#include <string>
#include <vector>

// The emulated hardware: every disk served as a file through FUSE and plugged into the umockdev
// test bed, its /dev node a link to a loop device over that file (as root) or to the file itself.
class Rig {
public:
    Rig(bool loopNodes, std::string mountPoint);
    ~Rig() { Stop(); }

    // Both before Start; each gives the disk's number.
    int AddCalculator(std::unique_ptr<Calculator> calculator);
    int AddOther(const DiskIdentity& identity, std::unique_ptr<PlainDisk> disk);

    // Before Start: every disk plugged in is also listed for a Windows program under Wine.
    void ServeToWine(std::unique_ptr<WineDevices> wine) { wine_ = std::move(wine); }
    bool Start(std::string* error);
    // Plugs a disk in, on a port and under a node name it has not had before, as the kernel
    // would name a disk plugged in again.
    bool Plug(int disk, std::string* error);
    void Unplug(int disk);
    bool Plugged(int disk) const { return disks_[disk].plugged; }
    // While plugged in, the file system on the disk (ext2, from its first byte) is mounted
    // read-only, as a desktop would mount it. Only with loop devices.
    void Mount(int disk) { disks_[disk].mounted = true; }
    bool LoopNodes() const { return loopNodes_; }
    // Takes every disk away and unmounts.
    void Stop();

    const std::string& TestbedDir() const { return testbedDir_; }
    Calculator* CalculatorAt(int disk) const { return disks_[disk].calculator.get(); }
    PlainDisk* OtherAt(int disk) const { return disks_[disk].other.get(); }
    int Plugs(int disk) const { return disks_[disk].plugs; }
    // What the disk's /dev node points at while plugged in: a loop device or the FUSE file.
    const std::string& NodeTarget(int disk) const { return disks_[disk].target; }

private:
    struct Disk {
        std::string file;
        DiskIdentity identity;
        std::unique_ptr<Calculator> calculator;
        std::unique_ptr<PlainDisk> other;
        EmulatedDisk* disk = nullptr;
        bool plugged = false;
        int plugs = 0;
        PluggedDisk where;
        std::unique_ptr<LoopDevice> loop;
        std::string target;
        bool mounted = false;
        std::string mountedAt; // while mounted
        std::string winePath;  // its interface path under Wine, while plugged in
    };
    DiskPlacement NextPlacement(const Disk& disk);
    void SetPresent(Disk& disk, bool present);
    bool MountFileSystem(Disk& disk, int index, std::string* error);
    void UnmountFileSystem(Disk& disk);

    bool loopNodes_;
    std::string mountPoint_;
    std::vector<Disk> disks_;
    FuseDisks fuse_;
    std::unique_ptr<Testbed> testbed_;
    std::unique_ptr<WineDevices> wine_;
    std::string testbedDir_;
    bool started_ = false;
    int nextPort_ = 1;
    int nextHost_ = 6;
    int nextNode_ = 1; // sdb: sda is the machine's own disk
};

// Kernel names of SCSI disks: sda .. sdz, sdaa ..
std::string ScsiDiskName(int index);
