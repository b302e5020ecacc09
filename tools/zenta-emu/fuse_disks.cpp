// The FUSE file system of the emulated disks: one file per disk, direct I/O only, served by
// threads enough for every disk's requests at once.
#define FUSE_USE_VERSION 312
#include "fuse_disks.h"

#include <fuse3/fuse.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

FuseDisks* Self()
{
    return static_cast<FuseDisks*>(fuse_get_context()->private_data);
}

void* Init(fuse_conn_info* connection, fuse_config* config)
{
    // A loop device hands its direct I/O on as background requests, of which the kernel keeps
    // only 12 in flight per mount by default: more disks than that would queue behind each
    // other's throttled link.
    const unsigned background = Self()->Workers();
    connection->max_background = background;
    connection->congestion_threshold = background;
    config->direct_io = 1;
    config->kernel_cache = 0;
    config->auto_cache = 0;
    config->entry_timeout = 0;
    config->attr_timeout = 0;
    config->negative_timeout = 0;
    return Self();
}

int GetAttr(const char* path, struct stat* status, fuse_file_info*)
{
    std::memset(status, 0, sizeof *status);
    if (std::strcmp(path, "/") == 0) {
        status->st_mode = S_IFDIR | 0755;
        status->st_nlink = 2;
        return 0;
    }
    EmulatedDisk* disk = Self()->Find(path);
    if (disk == nullptr)
        return -ENOENT;
    status->st_mode = S_IFREG | 0600;
    status->st_nlink = 1;
    status->st_uid = getuid();
    status->st_gid = getgid();
    status->st_size = static_cast<off_t>(disk->Size());
    return 0;
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
            fuse_readdir_flags)
{
    if (std::strcmp(path, "/") != 0)
        return -ENOENT;
    fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    for (const auto& disk : Self()->Disks())
        fill(buffer, disk.first.c_str(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    return 0;
}

int Open(const char* path, fuse_file_info* file)
{
    if (Self()->Find(path) == nullptr)
        return -ENOENT;
    file->direct_io = 1;
    file->keep_cache = 0;
    return 0;
}

// A request that runs past the end of the disk is cut there, as a block device would.
std::uint64_t Clip(EmulatedDisk* disk, off_t offset, std::size_t size)
{
    const std::uint64_t end = disk->Size();
    const std::uint64_t at = static_cast<std::uint64_t>(offset);
    return at >= end ? 0 : std::min<std::uint64_t>(size, end - at);
}

bool Refused(off_t offset, std::size_t size)
{
    return offset < 0 || (Self()->WholeSectors() && (offset % 512 != 0 || size % 512 != 0));
}

int Read(const char* path, char* buffer, std::size_t size, off_t offset, fuse_file_info*)
{
    EmulatedDisk* disk = Self()->Find(path);
    if (disk == nullptr || Refused(offset, size))
        return -EINVAL;
    const std::uint64_t length = Clip(disk, offset, size);
    disk->Pace(length);
    const int result = disk->Read(static_cast<std::uint64_t>(offset), length,
                                  reinterpret_cast<unsigned char*>(buffer));
    return result < 0 ? result : static_cast<int>(length);
}

int Write(const char* path, const char* buffer, std::size_t size, off_t offset, fuse_file_info*)
{
    EmulatedDisk* disk = Self()->Find(path);
    if (disk == nullptr || Refused(offset, size))
        return -EINVAL;
    const std::uint64_t length = Clip(disk, offset, size);
    if (length < size)
        return -ENOSPC;
    disk->Pace(length);
    const int result = disk->Write(static_cast<std::uint64_t>(offset), length,
                                   reinterpret_cast<const unsigned char*>(buffer));
    return result < 0 ? result : static_cast<int>(length);
}

// Every write is already on the calculator when it is answered.
int Sync(const char*, int, fuse_file_info*)
{
    return 0;
}

fuse_operations Operations()
{
    fuse_operations operations{};
    operations.init = Init;
    operations.getattr = GetAttr;
    operations.readdir = ReadDir;
    operations.open = Open;
    operations.read = Read;
    operations.write = Write;
    operations.fsync = Sync;
    return operations;
}

} // namespace

EmulatedDisk* FuseDisks::Find(const char* path) const
{
    if (path == nullptr || path[0] != '/')
        return nullptr;
    auto found = disks_.find(path + 1);
    return found != disks_.end() ? found->second : nullptr;
}

bool FuseDisks::Mount(const std::string& mountPoint, std::string* error)
{
    // auto_unmount: a helper takes the mount down even if the emulator is killed.
    const char* arguments[] = {"zenta-emu", "-o", "auto_unmount,fsname=zenta-emu,subtype=zenta"};
    fuse_args args = FUSE_ARGS_INIT(3, const_cast<char**>(arguments));
    static const fuse_operations operations = Operations();
    fuse_ = fuse_new(&args, &operations, sizeof operations, this);
    fuse_opt_free_args(&args); // what the option parser made of them
    if (fuse_ == nullptr || fuse_mount(fuse_, mountPoint.c_str()) != 0) {
        *error = "FUSE cannot mount at " + mountPoint + " (is /dev/fuse there and usable?)";
        if (fuse_ != nullptr) {
            fuse_destroy(fuse_);
            fuse_ = nullptr;
        }
        return false;
    }
    mountPoint_ = mountPoint;
    loop_ = std::thread([this] {
        fuse_loop_config* config = fuse_loop_cfg_create();
        // A throttled disk holds its thread while its link is busy: every disk has room for its
        // own requests, and the threads once started stay for the next burst.
        fuse_loop_cfg_set_max_threads(config, Workers());
        fuse_loop_cfg_set_idle_threads(config, Workers());
        fuse_loop_mt(fuse_, config);
        fuse_loop_cfg_destroy(config);
    });
    return true;
}

void FuseDisks::Unmount()
{
    if (fuse_ == nullptr)
        return;
    fuse_exit(fuse_);
    // A loop device lets go of its file a moment after its last user: wait for it, then go.
    bool gone = false;
    for (int i = 0; i < 50 && !gone; ++i) {
        gone = umount2(mountPoint_.c_str(), 0) == 0 || errno == EINVAL;
        if (!gone && errno == EPERM)
            break; // not root: the helper's lazy unmount below does it
        if (!gone)
            usleep(100000);
    }
    if (!gone)
        umount2(mountPoint_.c_str(), MNT_DETACH);
    fuse_unmount(fuse_);
    if (loop_.joinable())
        loop_.join();
    fuse_destroy(fuse_);
    fuse_ = nullptr;
}
