// The rig at work: every disk served through FUSE and plugged into the test bed and out again,
// on a new port and node name each time; as root over a loop device, its file system mounted
// where the scenario asks; for a Windows program, listed under Wine as well.
#include "rig.h"

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

Rig::Rig(bool loopNodes, std::string mountPoint)
    : loopNodes_(loopNodes), mountPoint_(std::move(mountPoint))
{
}

std::string ScsiDiskName(int index)
{
    std::string letters;
    for (int n = index + 1; n > 0; n = (n - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('a' + (n - 1) % 26));
    return "sd" + letters;
}

int Rig::AddCalculator(std::unique_ptr<Calculator> calculator)
{
    Disk disk;
    disk.file = "calculator-" + calculator->Serial() + ".img";
    disk.identity = CalculatorIdentity(calculator->Serial());
    disk.disk = calculator.get();
    disk.calculator = std::move(calculator);
    disks_.push_back(std::move(disk));
    return static_cast<int>(disks_.size()) - 1;
}

int Rig::AddOther(const DiskIdentity& identity, std::unique_ptr<PlainDisk> other)
{
    Disk disk;
    disk.file = "disk-" + std::to_string(disks_.size()) + ".img";
    disk.identity = identity;
    disk.disk = other.get();
    disk.other = std::move(other);
    disks_.push_back(std::move(disk));
    return static_cast<int>(disks_.size()) - 1;
}

bool Rig::Start(std::string* error)
{
    for (Disk& disk : disks_)
        fuse_.Add(disk.file, disk.disk);
    if (wine_)
        fuse_.RequireWholeSectors();
    if (!fuse_.Mount(mountPoint_, error))
        return false;
    if (wine_ && !wine_->Start(error))
        return false;
    testbed_ = std::make_unique<Testbed>();
    testbedDir_ = testbed_->RootDir();
    started_ = true;
    return true;
}

DiskPlacement Rig::NextPlacement(const Disk& disk)
{
    DiskPlacement placement;
    placement.port = nextPort_++;
    placement.scsiHost = nextHost_++;
    placement.node = ScsiDiskName(nextNode_);
    placement.major = 8;
    placement.minor = static_cast<unsigned>(16 * nextNode_);
    ++nextNode_;
    placement.sectors = disk.disk->Size() / 512;
    return placement;
}

bool Rig::MountFileSystem(Disk& disk, int index, std::string* error)
{
    const std::string at = mountPoint_ + "-disk" + std::to_string(index);
    if (mkdir(at.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = "cannot make " + at;
        return false;
    }
    // Read-only: the kernel then writes nothing of its own to the calculator.
    SetPresent(disk, true);
    if (mount(disk.loop->Node().c_str(), at.c_str(), "ext2", MS_RDONLY, nullptr) != 0) {
        *error = "cannot mount " + disk.loop->Node() + " at " + at + ": " + std::strerror(errno);
        SetPresent(disk, false);
        rmdir(at.c_str());
        return false;
    }
    disk.mountedAt = at;
    return true;
}

void Rig::UnmountFileSystem(Disk& disk)
{
    if (!disk.mountedAt.empty()) {
        umount2(disk.mountedAt.c_str(), MNT_DETACH);
        rmdir(disk.mountedAt.c_str());
        disk.mountedAt.clear();
    }
}

void Rig::SetPresent(Disk& disk, bool present)
{
    if (disk.calculator)
        disk.calculator->SetPresent(present);
}

bool Rig::Plug(int index, std::string* error)
{
    Disk& disk = disks_[index];
    if (!started_ || disk.plugged)
        return started_;
    DiskPlacement placement = NextPlacement(disk);
    std::string target = fuse_.PathOf(disk.file);
    if (loopNodes_) {
        disk.loop = std::make_unique<LoopDevice>();
        if (!disk.loop->Attach(target, error)) {
            disk.loop.reset();
            return false;
        }
        // The host checks the node's device number against the one sysfs gives.
        target = disk.loop->Node();
        placement.major = disk.loop->Major();
        placement.minor = disk.loop->Minor();
        if (disk.mounted && !MountFileSystem(disk, index, error)) {
            disk.loop.reset();
            return false;
        }
    }
    SetPresent(disk, true);
    if (!testbed_->AddDisk(disk.identity, placement, target, &disk.where, error)) {
        SetPresent(disk, false);
        UnmountFileSystem(disk);
        disk.loop.reset();
        return false;
    }
    if (wine_) {
        disk.winePath = WindowsInterfacePath(disk.identity, index);
        if (!wine_->Add(disk.winePath, target, error)) {
            SetPresent(disk, false);
            testbed_->RemoveDisk(disk.where);
            disk.winePath.clear();
            return false;
        }
    }
    disk.plugged = true;
    disk.target = target;
    ++disk.plugs;
    return true;
}

void Rig::Unplug(int index)
{
    Disk& disk = disks_[index];
    if (!disk.plugged)
        return;
    // Gone for the host at once: whatever it still has open fails from now on.
    SetPresent(disk, false);
    testbed_->RemoveDisk(disk.where);
    if (wine_ && !disk.winePath.empty())
        wine_->Remove(disk.winePath);
    disk.winePath.clear();
    UnmountFileSystem(disk);
    disk.loop.reset();
    disk.target.clear();
    disk.plugged = false;
}

void Rig::Stop()
{
    if (!started_)
        return;
    for (std::size_t i = 0; i < disks_.size(); ++i)
        Unplug(static_cast<int>(i));
    testbed_.reset();
    wine_.reset();
    fuse_.Unmount();
    started_ = false;
}
