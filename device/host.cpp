// The host the engine runs on: the platform's own unless a test set another. The platform's own
// is built here, once for every system, on the calls that system gives (device/system_calls.h).
#include "device/host.h"

#include "device/block_io.h"
#include "device/engine.h"
#include "device/system_calls.h"
#include "device/text16.h"

#include <atomic>
#include <cstdio>
#include <limits>
#include <map>
#include <mutex>
#include <new>
#include <type_traits>

static std::atomic<Host*> g_host{nullptr};

Host& CurrentHost()
{
    Host* host = g_host.load(std::memory_order_acquire);
    return host != nullptr ? *host : NativeHost();
}

Host* SetHost(Host* host)
{
    Host* previous = g_host.exchange(host, std::memory_order_acq_rel);
    return previous != nullptr ? previous : &NativeHost();
}

void Host::SleepUnless(int milliseconds, const std::atomic<bool>& wake)
{
    constexpr int kNapMs = 10;
    for (int left = milliseconds; left > 0 && !wake; left -= kNapMs)
        Sleep(left < kNapMs ? left : kNapMs);
}

void HostSleep(int milliseconds)
{
    CurrentHost().Sleep(milliseconds);
}

// Seeks to offset, moves, and seeks back to where the handle was.
template <typename Move>
static bool MoveAt(Host& host, FileHandle file, std::int64_t offset, std::uint32_t* done, Move move)
{
    if (done != nullptr)
        *done = 0;
    const std::int64_t saved = host.Seek(file, 0, SeekFrom::Current);
    if (saved < 0 || offset < 0 || host.Seek(file, offset, SeekFrom::Start) != offset)
        return false;
    const bool moved = move();
    host.Seek(file, saved, SeekFrom::Start);
    return moved;
}

bool Host::ReadAt(FileHandle file, std::int64_t offset, void* buffer, std::uint32_t length,
                  std::uint32_t* done)
{
    return MoveAt(*this, file, offset, done, [&] { return Read(file, buffer, length, done); });
}

bool Host::WriteAt(FileHandle file, std::int64_t offset, const void* buffer, std::uint32_t length,
                   std::uint32_t* done)
{
    return MoveAt(*this, file, offset, done, [&] { return Write(file, buffer, length, done); });
}

bool Host::DiskNode(const WChar*, WChar* node, int capacity)
{
    if (node != nullptr && capacity > 0)
        node[0] = 0;
    return false;
}

HostError Host::OpenError()
{
    return {HostFailure::Other, 0};
}

HostError Host::LastError(FileHandle)
{
    return {HostFailure::Other, 0};
}

void FormatHostError(const HostError& error, char* text, int capacity)
{
    if (text == nullptr || capacity <= 0)
        return;
    const char* words = "no error";
    switch (error.kind) {
    case HostFailure::None:
        break;
    case HostFailure::Denied:
        words = "permission denied";
        break;
    case HostFailure::Busy:
        words = "busy: held by another program";
        break;
    case HostFailure::Gone:
        words = "gone: no such device or file";
        break;
    case HostFailure::NotListed:
        words = "not among the disks found";
        break;
    case HostFailure::BadArgument:
        words = "refused by the host: bad handle or argument";
        break;
    case HostFailure::Other:
        words = "failed";
        break;
    }
    if (error.code != 0)
        std::snprintf(text, static_cast<std::size_t>(capacity), "%s (system error %ld)", words,
                      error.code);
    else
        std::snprintf(text, static_cast<std::size_t>(capacity), "%s", words);
}

// ---- The platform's own host ----

namespace {

constexpr std::int64_t kMaxOffset = std::numeric_limits<std::int64_t>::max();
constexpr HostError kRefused{HostFailure::BadArgument, 0};

// The reason of this thread's latest failed open.
thread_local HostError t_openError;

FileHandle OpenFailed(const HostError& why)
{
    t_openError = why;
    return kInvalidHandle;
}

// What a handle stands for. Each keeps its own position: every system call is positioned, so no
// file pointer of the system is shared between handles or left behind by a request.
struct OpenFile {
    SystemFile system;
    bool disk;
    std::uint32_t sectorSize; // a disk's
    std::int64_t diskSize;    // a disk's length, taken at the open; -1 when it cannot be read
    std::int64_t position;
    HostError lastError;
};

bool Refuse(OpenFile* file, const HostError& why, std::uint32_t* done)
{
    if (file != nullptr)
        file->lastError = why;
    if (done != nullptr)
        *done = 0;
    return false;
}

bool Call(SystemCalls& calls, SystemFile file, std::uint64_t at, unsigned char* bytes,
          std::size_t length, std::size_t* moved, HostError* why)
{
    return calls.ReadAt(file, at, bytes, length, moved, why);
}

bool Call(SystemCalls& calls, SystemFile file, std::uint64_t at, const unsigned char* bytes,
          std::size_t length, std::size_t* moved, HostError* why)
{
    return calls.WriteAt(file, at, bytes, length, moved, why);
}

// Moves `length` bytes at `offset`, one system call after another, until all of it has moved or
// a call moves nothing (the end of the file or disk); *total counts what moved.
template <typename Byte>
bool Transfer(SystemCalls& calls, SystemFile file, std::uint64_t offset, Byte* bytes,
              std::size_t length, std::size_t* total, HostError* why)
{
    std::size_t moved = 1;
    for (*total = 0; *total < length && moved != 0; *total += moved) {
        const std::uint64_t at = offset + *total;
        moved = 0;
        if (at > static_cast<std::uint64_t>(kMaxOffset))
            return Failed(why, kRefused);
        if (!Call(calls, file, at, bytes + *total, length - *total, &moved, why))
            return false;
    }
    return true;
}

// A disk as the sector layer sees it: every aligned request moves whole, or fails with its
// reason in *why; a call that moves nothing inside one has met the disk's end (it shrank or went).
class DiskSectors : public SectorDevice {
public:
    DiskSectors(SystemCalls& calls, const OpenFile& disk, HostError* why)
        : calls_(calls), disk_(disk), why_(why)
    {
    }

    std::uint32_t BlockSize() const override { return disk_.sectorSize; }

    bool ReadAligned(std::uint64_t offset, void* buffer, std::size_t length) override
    {
        return Whole(offset, static_cast<unsigned char*>(buffer), length, calls_.reasons.readAtEnd);
    }

    bool WriteAligned(std::uint64_t offset, const void* buffer, std::size_t length) override
    {
        return Whole(offset, static_cast<const unsigned char*>(buffer), length,
                     calls_.reasons.writeAtEnd);
    }

private:
    template <typename Byte>
    bool Whole(std::uint64_t offset, Byte* bytes, std::size_t length, const HostError& atEnd)
    {
        std::size_t moved = 0;
        if (!Transfer(calls_, disk_.system, offset, bytes, length, &moved, why_))
            return false;
        return moved == length || Failed(why_, atEnd);
    }

    SystemCalls& calls_;
    const OpenFile& disk_;
    HostError* why_;
};

bool MoveBytes(SectorDevice& device, std::uint64_t offset, void* buffer, std::size_t length)
{
    return ReadBytes(device, offset, buffer, length);
}

bool MoveBytes(SectorDevice& device, std::uint64_t offset, const void* buffer, std::size_t length)
{
    return WriteBytes(device, offset, buffer, length);
}

struct HostThread {
    ThreadProc proc;
    void* arg;
    int result;
    std::uintptr_t system;
};

class SystemHost final : public Host {
public:
    explicit SystemHost(SystemCalls& calls) : calls_(calls) {}

    void* BeginDiskInterfaces() override { return calls_.BeginDiskList(); }

    InterfaceStatus DiskInterfacePath(void* list, int index, WChar* path, int capacity) override
    {
        if (list == nullptr || index < 0)
            return InterfaceStatus::End;
        String16 listed;
        const InterfaceStatus status = calls_.ListedPath(list, index, &listed);
        if (status == InterfaceStatus::Ok &&
            (path == nullptr || !Copy16(path, capacity, listed.c_str())))
            return InterfaceStatus::TooLong;
        return status;
    }

    void EndDiskInterfaces(void* list) override
    {
        if (list != nullptr)
            calls_.EndDiskList(list);
    }

    bool DiskNode(const WChar* path, WChar* node, int capacity) override
    {
        if (node == nullptr || capacity <= 0)
            return false;
        node[0] = 0;
        String16 name;
        return path != nullptr && calls_.DiskNode(path, &name) &&
               Copy16(node, capacity, name.c_str());
    }

    FileHandle OpenDisk(const WChar* path) override { return Open(path, true); }
    FileHandle OpenSourceFile(const WChar* path) override { return Open(path, false); }
    HostError OpenError() override { return t_openError; }

    HostError LastError(FileHandle handle) override
    {
        const OpenFile* file = Find(handle);
        return file != nullptr ? file->lastError : kRefused;
    }

    std::int64_t Seek(FileHandle handle, std::int64_t offset, SeekFrom from) override
    {
        OpenFile* file = Find(handle);
        if (file == nullptr)
            return -1;
        const std::int64_t base = from == SeekFrom::Current ? file->position : 0;
        if ((offset > 0 && base > kMaxOffset - offset) || base + offset < 0) {
            file->lastError = kRefused;
            return -1;
        }
        file->position = base + offset;
        return file->position;
    }

    bool Read(FileHandle file, void* buffer, std::uint32_t length, std::uint32_t* done) override
    {
        return Move(file, nullptr, buffer, length, done);
    }

    bool Write(FileHandle file, const void* buffer, std::uint32_t length,
               std::uint32_t* done) override
    {
        return Move(file, nullptr, buffer, length, done);
    }

    bool ReadAt(FileHandle file, std::int64_t offset, void* buffer, std::uint32_t length,
                std::uint32_t* done) override
    {
        return Move(file, &offset, buffer, length, done);
    }

    bool WriteAt(FileHandle file, std::int64_t offset, const void* buffer, std::uint32_t length,
                 std::uint32_t* done) override
    {
        return Move(file, &offset, buffer, length, done);
    }

    std::int64_t Size(FileHandle handle) override
    {
        const OpenFile* file = Find(handle);
        return file != nullptr ? calls_.Size(file->system, file->disk) : -1;
    }

    bool Flush(FileHandle handle) override
    {
        OpenFile* file = Find(handle);
        if (file == nullptr)
            return false;
        HostError why;
        // A source is read only: it has nothing to flush.
        return !file->disk || calls_.Flush(file->system, &why) || Refuse(file, why, nullptr);
    }

    void Close(FileHandle handle) override
    {
        SystemFile system = 0;
        {
            std::lock_guard<std::mutex> lock(filesMutex_);
            const auto found = files_.find(handle);
            if (found == files_.end())
                return;
            system = found->second.system;
            files_.erase(found);
        }
        calls_.Close(system);
    }

    void* AllocIoBuffer(std::size_t size) override { return AllocAligned(size); }
    void FreeIoBuffer(void* buffer) override { FreeAligned(buffer); }

    ThreadHandle StartThread(ThreadProc proc, void* arg) override
    {
        if (proc == nullptr)
            return 0;
        auto* thread = new (std::nothrow) HostThread{proc, arg, kResultNoMemory, 0};
        if (thread != nullptr && calls_.StartThread(thread, &thread->system))
            return reinterpret_cast<ThreadHandle>(thread);
        delete thread;
        return 0;
    }

    void JoinThreads(const ThreadHandle* threads, int count, int* exitCodes) override
    {
        for (int i = 0; threads != nullptr && i < count; ++i) {
            auto* thread = reinterpret_cast<HostThread*>(threads[i]);
            int result = kResultNoMemory; // as for a thread that never started
            // One that could not be waited for may still run: its record stays, its result
            // does not pass for its own.
            if (thread != nullptr && calls_.AwaitThread(thread->system)) {
                result = thread->result;
                delete thread;
            }
            if (exitCodes != nullptr)
                exitCodes[i] = result;
        }
    }

    void Sleep(int milliseconds) override
    {
        if (milliseconds > 0)
            calls_.Sleep(milliseconds);
    }

private:
    FileHandle Open(const WChar* path, bool disk)
    {
        SystemFile system = 0;
        HostError why = kRefused;
        const bool opened = path != nullptr && (disk ? calls_.OpenDisk(path, &system, &why)
                                                     : calls_.OpenSource(path, &system, &why));
        if (!opened)
            return OpenFailed(why);
        const OpenFile file{system,
                            disk,
                            disk ? calls_.SectorSize(system) : 0,
                            disk ? calls_.Size(system, true) : -1,
                            0,
                            HostError{}};
        // A number is never given out twice, so a stale handle cannot reach a newer file.
        try {
            std::lock_guard<std::mutex> lock(filesMutex_);
            const FileHandle handle = nextHandle_++;
            files_.emplace(handle, file);
            return handle;
        } catch (const std::bad_alloc&) {
            calls_.Close(system);
            return OpenFailed(calls_.reasons.noMemory);
        }
    }

    OpenFile* Find(FileHandle handle)
    {
        std::lock_guard<std::mutex> lock(filesMutex_);
        const auto found = files_.find(handle);
        return found != files_.end() ? &found->second : nullptr;
    }

    // Read and Write at `at`, or at the position (at nullptr), which then moves past what moved.
    // A disk request is all or nothing: one across the disk's end is refused before it starts.
    template <typename Buffer>
    bool Move(FileHandle handle, const std::int64_t* at, Buffer* buffer, std::uint32_t length,
              std::uint32_t* done)
    {
        constexpr bool kWrite = std::is_const<Buffer>::value;
        if (done != nullptr)
            *done = 0;
        OpenFile* file = Find(handle);
        const std::int64_t offset = at != nullptr ? *at : file != nullptr ? file->position : 0;
        // A source is opened for reading only.
        if (file == nullptr || done == nullptr || (kWrite && !file->disk) ||
            (buffer == nullptr && length > 0) || offset < 0 || offset > kMaxOffset - length ||
            (file->disk && file->diskSize >= 0 && offset + length > file->diskSize))
            return Refuse(file, kRefused, done);
        if (length == 0)
            return true;
        using Byte = std::conditional_t<kWrite, const unsigned char, unsigned char>;
        HostError why{HostFailure::Other, 0}; // for a failure that no call explains
        std::size_t moved = length;
        bool ok = false;
        if (file->disk) {
            DiskSectors sectors(calls_, *file, &why);
            ok = MoveBytes(sectors, static_cast<std::uint64_t>(offset), buffer, length);
        } else {
            ok = Transfer(calls_, file->system, static_cast<std::uint64_t>(offset),
                          static_cast<Byte*>(buffer), length, &moved, &why);
        }
        if (!ok)
            return Refuse(file, why, done);
        *done = static_cast<std::uint32_t>(moved);
        if (at == nullptr)
            file->position = offset + *done;
        return true;
    }

    SystemCalls& calls_;
    // Handles given out and not yet closed, by number.
    std::mutex filesMutex_;
    std::map<FileHandle, OpenFile> files_;
    FileHandle nextHandle_ = 1;
};

} // namespace

void RunHostThread(void* thread)
{
    auto* started = static_cast<HostThread*>(thread);
    started->result = started->proc(started->arg);
}

Host& NativeHost()
{
    // Never destroyed: threads may still reach it while the process ends.
    static Host* const host = new SystemHost(PlatformCalls());
    return *host;
}
