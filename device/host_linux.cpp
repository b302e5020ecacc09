// The Linux host: udev for the list of disks, paths shaped like the Windows interface paths,
// unbuffered (O_DIRECT) write-through disk I/O, plain files for sources, and POSIX threads.
// Handles are numbers from a table, never pointers, so that a stale one finds nothing.
#include "device/block_io.h"
#include "device/engine.h"
#include "device/host.h"
#include "device/linux_disk_paths.h"
#include "device/linux_udev.h"
#include "device/text16.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <linux/fs.h>
#include <map>
#include <memory>
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

namespace {

constexpr std::int64_t kMaxOffset = std::numeric_limits<std::int64_t>::max();

struct ListedDisk {
    std::string path;
    String16 path16;
};

struct DiskList {
    std::vector<ListedDisk> disks;
};

// ---- Open files ----

enum class FileKind { Disk, Source };

struct OpenFile {
    FileKind kind;
    int fd;
    std::int64_t position;
    std::uint32_t blockSize;
    std::int64_t diskSize; // a disk's length, taken at the open; -1 when it cannot be read
    HostError lastError;
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

// The reason of this thread's latest failed open.
thread_local HostError t_openError;

FileHandle OpenFailed(HostError why)
{
    t_openError = why;
    return kInvalidHandle;
}

// A disk opened for unbuffered I/O, as the sector layer sees it.
class FdSectorDevice : public SectorDevice {
public:
    FdSectorDevice(int fd, std::uint32_t blockSize) : fd_(fd), blockSize_(blockSize) {}

    std::uint32_t BlockSize() const override { return blockSize_; }

    bool ReadAligned(std::uint64_t offset, void* buffer, std::size_t length) override
    {
        unsigned char* bytes = static_cast<unsigned char*>(buffer);
        while (length > 0) {
            if (offset > static_cast<std::uint64_t>(kMaxOffset))
                return false;
            ssize_t got = pread(fd_, bytes, length, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                // An error, or the end of the disk inside the request: the disk shrank or went.
                error_ = got < 0 ? errno : ENXIO;
                return false;
            }
            bytes += got;
            offset += static_cast<std::uint64_t>(got);
            length -= static_cast<std::size_t>(got);
        }
        return true;
    }

    bool WriteAligned(std::uint64_t offset, const void* buffer, std::size_t length) override
    {
        const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
        while (length > 0) {
            if (offset > static_cast<std::uint64_t>(kMaxOffset))
                return false;
            ssize_t put = pwrite(fd_, bytes, length, static_cast<off_t>(offset));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0) {
                error_ = put < 0 ? errno : ENOSPC;
                return false;
            }
            bytes += put;
            offset += static_cast<std::uint64_t>(put);
            length -= static_cast<std::size_t>(put);
        }
        return true;
    }

    int Error() const { return error_; }

private:
    int fd_;
    std::uint32_t blockSize_;
    int error_ = 0;
};

int OpenRetrying(const char* path, int flags)
{
    int fd;
    do {
        fd = open(path, flags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

std::uint32_t LogicalBlockSize(int fd)
{
    int size = 0;
    if (ioctl(fd, BLKSSZGET, &size) != 0 || size < 512 || (size & (size - 1)) != 0)
        return 512;
    return static_cast<std::uint32_t>(size);
}

// ---- Threads ----

struct ThreadObject {
    pthread_t thread;
    ThreadProc proc;
    void* arg;
    int result;
};

void* RunThread(void* object)
{
    ThreadObject* thread = static_cast<ThreadObject*>(object);
    thread->result = thread->proc(thread->arg);
    return nullptr;
}

// ---- The host ----

class LinuxHost : public Host {
public:
    void* BeginDiskInterfaces() override;
    InterfaceStatus DiskInterfacePath(void* list, int index, WChar* path, int capacity) override;
    void EndDiskInterfaces(void* list) override;

    FileHandle OpenDisk(const WChar* path) override;
    bool DiskNode(const WChar* path, WChar* node, int capacity) override;
    FileHandle OpenSourceFile(const WChar* path) override;
    std::int64_t Seek(FileHandle file, std::int64_t offset, SeekFrom from) override;
    bool Read(FileHandle file, void* buffer, std::uint32_t length, std::uint32_t* done) override;
    bool Write(FileHandle file, const void* buffer, std::uint32_t length,
               std::uint32_t* done) override;
    bool ReadAt(FileHandle file, std::int64_t offset, void* buffer, std::uint32_t length,
                std::uint32_t* done) override;
    bool WriteAt(FileHandle file, std::int64_t offset, const void* buffer, std::uint32_t length,
                 std::uint32_t* done) override;
    std::int64_t Size(FileHandle file) override;
    bool Flush(FileHandle file) override;
    void Close(FileHandle file) override;

    void* AllocIoBuffer(std::size_t size) override { return AllocAligned(size); }
    void FreeIoBuffer(void* buffer) override { FreeAligned(buffer); }

    ThreadHandle StartThread(ThreadProc proc, void* arg) override;
    void JoinThreads(const ThreadHandle* threads, int count, int* exitCodes) override;
    void Sleep(int milliseconds) override;

private:
    HostError OpenError() override { return t_openError; }
    HostError LastError(FileHandle file) override;

private:
    FileHandle Register(FileKind kind, int fd, std::uint32_t blockSize);
    OpenFile* Find(FileHandle file);
    // Refuses a request on `object` with the reason; gives false.
    static bool Refuse(OpenFile* object, HostError why, std::uint32_t* done);
    static std::int64_t SizeOf(int fd);
    // Read and write at `offset`; `advance` moves the handle's position past what moved.
    static bool ReadFrom(OpenFile* object, std::int64_t offset, bool advance, void* buffer,
                         std::uint32_t length, std::uint32_t* done);
    static bool WriteTo(OpenFile* object, std::int64_t offset, bool advance, const void* buffer,
                        std::uint32_t length, std::uint32_t* done);

    std::mutex disksMutex_;
    std::map<std::string, KnownDisk> latestDisks_;

    // Handles given out and not yet closed, by number: a stale or made-up handle finds nothing,
    // and a number is never given out twice.
    std::mutex filesMutex_;
    std::map<FileHandle, std::unique_ptr<OpenFile>> openFiles_;
    FileHandle nextHandle_ = 1;
};

void* LinuxHost::BeginDiskInterfaces()
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

InterfaceStatus LinuxHost::DiskInterfacePath(void* list, int index, WChar* path, int capacity)
{
    const DiskList* disks = static_cast<const DiskList*>(list);
    if (disks == nullptr || index < 0 || static_cast<std::size_t>(index) >= disks->disks.size())
        return InterfaceStatus::End;
    if (path == nullptr || !Copy16(path, capacity, disks->disks[index].path16.c_str()))
        return InterfaceStatus::TooLong;
    return InterfaceStatus::Ok;
}

void LinuxHost::EndDiskInterfaces(void* list)
{
    delete static_cast<DiskList*>(list);
}

bool LinuxHost::DiskNode(const WChar* path, WChar* node, int capacity)
{
    if (node == nullptr || capacity <= 0)
        return false;
    node[0] = 0;
    std::string name;
    if (path == nullptr || !Utf16ToUtf8(path, &name))
        return false;
    std::lock_guard<std::mutex> lock(disksMutex_);
    const auto known = latestDisks_.find(name);
    return known != latestDisks_.end() &&
           Copy16(node, capacity, Utf8ToUtf16(known->second.devnode).c_str());
}

FileHandle LinuxHost::OpenDisk(const WChar* path)
{
    std::string name;
    if (path == nullptr || !Utf16ToUtf8(path, &name))
        return OpenFailed({HostFailure::BadArgument, 0});
    KnownDisk disk;
    {
        std::lock_guard<std::mutex> lock(disksMutex_);
        auto known = latestDisks_.find(name);
        if (known == latestDisks_.end())
            return OpenFailed({HostFailure::NotListed, 0});
        disk = known->second;
    }

    // O_EXCL: a disk that is mounted, or that another program holds exclusively, is not
    // written behind its back, and no one takes it while it is written here.
    const int flags = O_RDWR | O_EXCL | O_DSYNC | O_CLOEXEC;
    int fd = OpenRetrying(disk.devnode.c_str(), flags | O_DIRECT);
    // A node that is not a block device (an emulator's file) may refuse O_DIRECT; it is still
    // opened write-through. A block device never goes through the page cache.
    struct stat node;
    if (fd < 0 && errno == EINVAL && stat(disk.devnode.c_str(), &node) == 0 &&
        !S_ISBLK(node.st_mode)) {
        fd = OpenRetrying(disk.devnode.c_str(), flags);
    }
    if (fd < 0)
        return OpenFailed(SystemError(errno));

    // The disk may have gone since the enumeration and its node gone to another disk: what was
    // opened must be the disk that was listed under this path.
    struct stat status;
    bool same = fstat(fd, &status) == 0;
    if (same && S_ISBLK(status.st_mode))
        same = status.st_rdev == disk.devnum && IsSameDisk(status.st_rdev, disk.info);
    const std::uint32_t blockSize = same ? LogicalBlockSize(fd) : 0;
    FileHandle handle = same ? Register(FileKind::Disk, fd, blockSize) : kInvalidHandle;
    if (handle == kInvalidHandle) {
        close(fd);
        return OpenFailed(same ? HostError{HostFailure::Other, ENOMEM}
                               : HostError{HostFailure::Gone, 0});
    }
    return handle;
}

FileHandle LinuxHost::OpenSourceFile(const WChar* path)
{
    std::string name;
    if (path == nullptr || !Utf16ToUtf8(path, &name))
        return OpenFailed({HostFailure::BadArgument, 0});
    // O_NONBLOCK: a FIFO (or a link to one) would otherwise wait for a writer for ever.
    int fd = OpenRetrying(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return OpenFailed(SystemError(errno));
    // Only a regular file has the bytes and the size of an image; a directory opens but holds
    // none. Its reads then block as usual.
    struct stat status;
    FileHandle handle = kInvalidHandle;
    const int flags = fcntl(fd, F_GETFL);
    const bool regular = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    if (regular && flags != -1 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0)
        handle = Register(FileKind::Source, fd, 0);
    if (handle == kInvalidHandle) {
        close(fd);
        return OpenFailed({regular ? HostFailure::Other : HostFailure::BadArgument, 0});
    }
    return handle;
}

std::int64_t LinuxHost::SizeOf(int fd)
{
    struct stat status;
    if (fstat(fd, &status) != 0)
        return -1;
    if (S_ISBLK(status.st_mode)) {
        std::uint64_t bytes = 0;
        if (ioctl(fd, BLKGETSIZE64, &bytes) == 0) {
            return bytes > static_cast<std::uint64_t>(kMaxOffset)
                       ? -1
                       : static_cast<std::int64_t>(bytes);
        }
        // Where the ioctl is not answered (a preloaded test bed), the end of the device tells
        // the same. The descriptor's own offset is not used: every transfer here is positioned.
        const off_t end = lseek(fd, 0, SEEK_END);
        return end < 0 ? -1 : static_cast<std::int64_t>(end);
    }
    return S_ISREG(status.st_mode) ? static_cast<std::int64_t>(status.st_size) : -1;
}

FileHandle LinuxHost::Register(FileKind kind, int fd, std::uint32_t blockSize)
{
    const std::int64_t diskSize = kind == FileKind::Disk ? SizeOf(fd) : -1;
    std::unique_ptr<OpenFile> file(new (std::nothrow)
                                       OpenFile{kind, fd, 0, blockSize, diskSize, HostError{}});
    if (file == nullptr)
        return kInvalidHandle;
    std::lock_guard<std::mutex> lock(filesMutex_);
    const FileHandle handle = nextHandle_++;
    openFiles_[handle] = std::move(file);
    return handle;
}

OpenFile* LinuxHost::Find(FileHandle file)
{
    std::lock_guard<std::mutex> lock(filesMutex_);
    const auto found = openFiles_.find(file);
    return found != openFiles_.end() ? found->second.get() : nullptr;
}

bool LinuxHost::Refuse(OpenFile* object, HostError why, std::uint32_t* done)
{
    if (object != nullptr)
        object->lastError = why;
    if (done != nullptr)
        *done = 0;
    return false;
}

HostError LinuxHost::LastError(FileHandle file)
{
    OpenFile* object = Find(file);
    return object != nullptr ? object->lastError : HostError{HostFailure::BadArgument, 0};
}

std::int64_t LinuxHost::Seek(FileHandle file, std::int64_t offset, SeekFrom from)
{
    OpenFile* object = Find(file);
    if (object == nullptr)
        return -1;
    std::int64_t base = from == SeekFrom::Current ? object->position : 0;
    if ((offset > 0 && base > kMaxOffset - offset) || base + offset < 0) {
        object->lastError = {HostFailure::BadArgument, 0};
        return -1;
    }
    object->position = base + offset;
    return object->position;
}

bool LinuxHost::Read(FileHandle file, void* buffer, std::uint32_t length, std::uint32_t* done)
{
    OpenFile* object = Find(file);
    return ReadFrom(object, object != nullptr ? object->position : 0, true, buffer, length, done);
}

bool LinuxHost::ReadAt(FileHandle file, std::int64_t offset, void* buffer, std::uint32_t length,
                       std::uint32_t* done)
{
    return ReadFrom(Find(file), offset, false, buffer, length, done);
}

bool LinuxHost::Write(FileHandle file, const void* buffer, std::uint32_t length,
                      std::uint32_t* done)
{
    OpenFile* object = Find(file);
    return WriteTo(object, object != nullptr ? object->position : 0, true, buffer, length, done);
}

bool LinuxHost::WriteAt(FileHandle file, std::int64_t offset, const void* buffer,
                        std::uint32_t length, std::uint32_t* done)
{
    return WriteTo(Find(file), offset, false, buffer, length, done);
}

bool LinuxHost::ReadFrom(OpenFile* object, std::int64_t offset, bool advance, void* buffer,
                         std::uint32_t length, std::uint32_t* done)
{
    if (done != nullptr)
        *done = 0;
    const HostError refused{HostFailure::BadArgument, 0};
    if (object == nullptr || done == nullptr || (buffer == nullptr && length > 0) || offset < 0 ||
        offset > kMaxOffset - static_cast<std::int64_t>(length)) {
        return Refuse(object, refused, done);
    }
    if (object->kind == FileKind::Disk) {
        // All or nothing: a request across the end is refused before it starts.
        if (object->diskSize >= 0 && offset + length > object->diskSize)
            return Refuse(object, refused, done);
        FdSectorDevice device(object->fd, object->blockSize);
        if (!ReadBytes(device, static_cast<std::uint64_t>(offset), buffer, length))
            return Refuse(object, SystemError(device.Error()), done);
        *done = length;
    } else {
        unsigned char* bytes = static_cast<unsigned char*>(buffer);
        std::uint32_t got = 0;
        while (got < length) {
            ssize_t count = pread(object->fd, bytes + got, length - got, offset + got);
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0)
                return Refuse(object, SystemError(errno), done);
            if (count == 0)
                break; // end of file
            got += static_cast<std::uint32_t>(count);
        }
        *done = got;
    }
    if (advance)
        object->position = offset + *done;
    return true;
}

bool LinuxHost::WriteTo(OpenFile* object, std::int64_t offset, bool advance, const void* buffer,
                        std::uint32_t length, std::uint32_t* done)
{
    if (done != nullptr)
        *done = 0;
    const HostError refused{HostFailure::BadArgument, 0};
    if (object == nullptr || done == nullptr || object->kind != FileKind::Disk ||
        (buffer == nullptr && length > 0) || offset < 0 ||
        offset > kMaxOffset - static_cast<std::int64_t>(length) ||
        (object->diskSize >= 0 && offset + length > object->diskSize)) {
        return Refuse(object, refused, done);
    }
    FdSectorDevice device(object->fd, object->blockSize);
    if (!WriteBytes(device, static_cast<std::uint64_t>(offset), buffer, length))
        return Refuse(object, SystemError(device.Error()), done);
    if (advance)
        object->position = offset + length;
    *done = length;
    return true;
}

std::int64_t LinuxHost::Size(FileHandle file)
{
    OpenFile* object = Find(file);
    return object != nullptr ? SizeOf(object->fd) : -1;
}

bool LinuxHost::Flush(FileHandle file)
{
    OpenFile* object = Find(file);
    if (object == nullptr)
        return false;
    if (object->kind == FileKind::Source)
        return true; // read only: nothing to flush
    int result;
    do {
        result = fdatasync(object->fd);
    } while (result != 0 && errno == EINTR);
    if (result != 0)
        object->lastError = SystemError(errno);
    return result == 0;
}

void LinuxHost::Close(FileHandle file)
{
    std::unique_ptr<OpenFile> object;
    {
        std::lock_guard<std::mutex> lock(filesMutex_);
        const auto found = openFiles_.find(file);
        if (found == openFiles_.end())
            return;
        object = std::move(found->second);
        openFiles_.erase(found);
    }
    // Not retried on EINTR: on Linux the descriptor is gone either way.
    close(object->fd);
}

ThreadHandle LinuxHost::StartThread(ThreadProc proc, void* arg)
{
    if (proc == nullptr)
        return 0;
    ThreadObject* thread = new (std::nothrow) ThreadObject{};
    if (thread == nullptr)
        return 0;
    thread->proc = proc;
    thread->arg = arg;
    if (pthread_create(&thread->thread, nullptr, RunThread, thread) != 0) {
        delete thread;
        return 0;
    }
    return reinterpret_cast<ThreadHandle>(thread);
}

void LinuxHost::JoinThreads(const ThreadHandle* threads, int count, int* exitCodes)
{
    for (int i = 0; threads != nullptr && i < count; ++i) {
        ThreadObject* thread = reinterpret_cast<ThreadObject*>(threads[i]);
        int result = kResultNoMemory; // as for a thread that never started
        if (thread != nullptr) {
            pthread_join(thread->thread, nullptr);
            result = thread->result;
            delete thread;
        }
        if (exitCodes != nullptr)
            exitCodes[i] = result;
    }
}

void LinuxHost::Sleep(int milliseconds)
{
    if (milliseconds <= 0)
        return;
    timespec left{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

} // namespace

Host& NativeHost()
{
    static LinuxHost host;
    return host;
}
