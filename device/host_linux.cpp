// The Linux system's calls for the engine's host: udev for the list of disks, paths shaped like
// the Windows interface paths, unbuffered (O_DIRECT) write-through disk I/O, plain files for
// sources, and POSIX threads.
#include "device/linux_disk_paths.h"
#include "device/linux_udev.h"
#include "device/system_calls.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/fs.h>
#include <map>
#include <mutex>
#include <new>
#include <pthread.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// Disk offsets go past 4 GiB on every build, 32-bit ones too.
static_assert(sizeof(off_t) == 8, "build with _FILE_OFFSET_BITS=64");
static_assert(sizeof(pthread_t) <= sizeof(std::uintptr_t), "a thread is kept in a uintptr_t");

namespace {

struct ListedDisk {
    std::string path;
    String16 path16;
};

struct DiskList {
    std::vector<ListedDisk> disks;
};

HostFailure FailureOf(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return HostFailure::Denied;
    case EBUSY:
    case ETXTBSY:
        return HostFailure::Busy;
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM:
    case ENOTDIR:
        return HostFailure::Gone;
    default:
        return HostFailure::Other;
    }
}

HostError SystemError(int error)
{
    return {FailureOf(error), error};
}

int OpenRetrying(const char* path, int flags)
{
    int fd;
    do {
        fd = open(path, flags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// One positioned call, made again when a signal cut it short.
template <typename Call> bool Positioned(Call call, std::size_t* moved, HostError* why)
{
    ssize_t count;
    do {
        count = call();
    } while (count < 0 && errno == EINTR);
    *moved = count > 0 ? static_cast<std::size_t>(count) : 0;
    return count >= 0 || Failed(why, SystemError(errno));
}

void* RunThread(void* thread)
{
    RunHostThread(thread);
    return nullptr;
}

class LinuxCalls final : public SystemCalls {
public:
    // The end of a disk inside a read is a disk that shrank or went; inside a write, no room.
    LinuxCalls()
        : SystemCalls({{HostFailure::Other, ENOMEM}, SystemError(ENXIO), SystemError(ENOSPC)})
    {
    }

    void* BeginDiskList() override
    {
        std::vector<KnownDisk> found;
        const bool scanned = ListWholeDisks(&found);
        std::vector<LinuxDiskInfo> infos;
        for (const KnownDisk& disk : found)
            infos.push_back(disk.info);
        const std::vector<std::string> paths = DiskInterfacePathsOf(infos);

        DiskList* list = scanned ? new (std::nothrow) DiskList : nullptr;
        std::map<std::string, KnownDisk> latest;
        if (list != nullptr) {
            for (std::size_t i = 0; i < found.size(); ++i) {
                if (paths[i].empty())
                    continue;
                latest[paths[i]] = found[i];
                list->disks.push_back({paths[i], Utf8ToUtf16(paths[i])});
            }
            // Ordered by path: the same disks give the same order whatever names the kernel gave.
            std::sort(list->disks.begin(), list->disks.end(),
                      [](const ListedDisk& a, const ListedDisk& b) { return a.path < b.path; });
        }
        // A failed enumeration leaves nothing that can be opened.
        std::lock_guard<std::mutex> lock(disksMutex_);
        latestDisks_.swap(latest);
        return list;
    }

    InterfaceStatus ListedPath(void* list, int index, String16* path) override
    {
        const std::vector<ListedDisk>& disks = static_cast<const DiskList*>(list)->disks;
        if (static_cast<std::size_t>(index) >= disks.size())
            return InterfaceStatus::End;
        *path = disks[static_cast<std::size_t>(index)].path16;
        return InterfaceStatus::Ok;
    }

    void EndDiskList(void* list) override { delete static_cast<DiskList*>(list); }

    bool DiskNode(const WChar* path, String16* node) override
    {
        std::string name;
        KnownDisk disk;
        if (!Utf16ToUtf8(path, &name) || !Listed(name, &disk))
            return false;
        *node = Utf8ToUtf16(disk.devnode);
        return true;
    }

    bool OpenDisk(const WChar* path, SystemFile* file, HostError* why) override
    {
        std::string name;
        KnownDisk disk;
        if (!Utf16ToUtf8(path, &name))
            return Failed(why, {HostFailure::BadArgument, 0});
        if (!Listed(name, &disk))
            return Failed(why, {HostFailure::NotListed, 0});

        // O_EXCL: a disk that is mounted, or that another program holds exclusively, is not
        // written behind its back, and no one takes it while it is written here.
        const int flags = O_RDWR | O_EXCL | O_DSYNC | O_CLOEXEC;
        int fd = OpenRetrying(disk.devnode.c_str(), flags | O_DIRECT);
        // A node that is not a block device (an emulator's file) may refuse O_DIRECT; it is
        // still opened write-through. A block device never goes through the page cache.
        struct stat node;
        if (fd < 0 && errno == EINVAL && stat(disk.devnode.c_str(), &node) == 0 &&
            !S_ISBLK(node.st_mode)) {
            fd = OpenRetrying(disk.devnode.c_str(), flags);
        }
        if (fd < 0)
            return Failed(why, SystemError(errno));

        // The disk may have gone since the enumeration and its node gone to another disk: what
        // was opened must be the disk that was listed under this path.
        struct stat status;
        bool same = fstat(fd, &status) == 0;
        if (same && S_ISBLK(status.st_mode))
            same = status.st_rdev == disk.devnum && IsSameDisk(status.st_rdev, disk.info);
        if (!same) {
            close(fd);
            return Failed(why, {HostFailure::Gone, 0});
        }
        *file = fd;
        return true;
    }

    bool OpenSource(const WChar* path, SystemFile* file, HostError* why) override
    {
        std::string name;
        if (!Utf16ToUtf8(path, &name))
            return Failed(why, {HostFailure::BadArgument, 0});
        // O_NONBLOCK: a FIFO (or a link to one) would otherwise wait for a writer for ever.
        const int fd = OpenRetrying(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return Failed(why, SystemError(errno));
        // Only a regular file has the bytes and the size of an image; a directory opens but
        // holds none. Its reads then block as usual.
        struct stat status;
        const int flags = fcntl(fd, F_GETFL);
        const bool regular = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
        if (!regular || flags == -1 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
            close(fd);
            return Failed(why, {regular ? HostFailure::Other : HostFailure::BadArgument, 0});
        }
        *file = fd;
        return true;
    }

    // Not retried on EINTR: on Linux the descriptor is gone either way.
    void Close(SystemFile file) override { close(static_cast<int>(file)); }

    bool ReadAt(SystemFile file, std::uint64_t offset, void* buffer, std::size_t length,
                std::size_t* moved, HostError* why) override
    {
        const int fd = static_cast<int>(file);
        return Positioned([&] { return pread(fd, buffer, length, static_cast<off_t>(offset)); },
                          moved, why);
    }

    bool WriteAt(SystemFile file, std::uint64_t offset, const void* buffer, std::size_t length,
                 std::size_t* moved, HostError* why) override
    {
        const int fd = static_cast<int>(file);
        return Positioned([&] { return pwrite(fd, buffer, length, static_cast<off_t>(offset)); },
                          moved, why);
    }

    std::int64_t Size(SystemFile file, bool /*disk*/) override
    {
        const int fd = static_cast<int>(file);
        struct stat status;
        if (fstat(fd, &status) != 0)
            return -1;
        if (S_ISBLK(status.st_mode)) {
            std::uint64_t bytes = 0;
            if (ioctl(fd, BLKGETSIZE64, &bytes) == 0) {
                return bytes > static_cast<std::uint64_t>(INT64_MAX)
                           ? -1
                           : static_cast<std::int64_t>(bytes);
            }
            // Where the ioctl is not answered (a preloaded test bed), the end of the device
            // tells the same. The descriptor's own offset is not used: every call is positioned.
            const off_t end = lseek(fd, 0, SEEK_END);
            return end < 0 ? -1 : static_cast<std::int64_t>(end);
        }
        return S_ISREG(status.st_mode) ? static_cast<std::int64_t>(status.st_size) : -1;
    }

    std::uint32_t SectorSize(SystemFile disk) override
    {
        int size = 0;
        if (ioctl(static_cast<int>(disk), BLKSSZGET, &size) != 0 || size < 512 ||
            (size & (size - 1)) != 0)
            return 512;
        return static_cast<std::uint32_t>(size);
    }

    bool Flush(SystemFile disk, HostError* why) override
    {
        int result;
        do {
            result = fdatasync(static_cast<int>(disk));
        } while (result != 0 && errno == EINTR);
        return result == 0 || Failed(why, SystemError(errno));
    }

    bool StartThread(void* thread, std::uintptr_t* system) override
    {
        pthread_t id;
        if (pthread_create(&id, nullptr, RunThread, thread) != 0)
            return false;
        std::memcpy(system, &id, sizeof id);
        return true;
    }

    bool AwaitThread(std::uintptr_t system) override
    {
        pthread_t id;
        std::memcpy(&id, &system, sizeof id);
        return pthread_join(id, nullptr) == 0;
    }

    void Sleep(int milliseconds) override
    {
        timespec left{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
        while (nanosleep(&left, &left) != 0 && errno == EINTR) {
        }
    }

private:
    // The disk that the latest enumeration listed under this path.
    bool Listed(const std::string& name, KnownDisk* disk)
    {
        std::lock_guard<std::mutex> lock(disksMutex_);
        const auto known = latestDisks_.find(name);
        if (known == latestDisks_.end())
            return false;
        *disk = known->second;
        return true;
    }

    std::mutex disksMutex_;
    std::map<std::string, KnownDisk> latestDisks_;
};

} // namespace

SystemCalls& PlatformCalls()
{
    static SystemCalls* const calls = new LinuxCalls;
    return *calls;
}

void* AllocSystemAligned(std::size_t size, std::size_t alignment)
{
    void* buffer = nullptr;
    return posix_memalign(&buffer, alignment, size) == 0 ? buffer : nullptr;
}

void FreeSystemAligned(void* buffer)
{
    std::free(buffer);
}
