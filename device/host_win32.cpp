// The Windows host: SetupAPI for the list of disks, unbuffered write-through handles for the
// disks, plain handles for source files, and Win32 threads. Handles are numbers from a table,
// never pointers, so that a stale or made-up one finds nothing.
#ifdef _WIN32

#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <setupapi.h>
#include <winioctl.h>

#include "device/block_io.h"
#include "device/engine.h"
#include "device/host.h"
#include "device/text16.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>

namespace {

// Defined here so that no initguid/uuid library dance is needed: {53F56307-B6BF-11D0-94F2-...}.
const GUID kDiskInterfaceClass = {
    0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

constexpr std::uint32_t kFallbackSectorSize = 512;

// SetFilePointer with the high word; a low result of 0xFFFFFFFF is an error only when
// GetLastError says so, hence the reset before the call.
bool MovePointer(HANDLE handle, std::int64_t offset, DWORD method, std::int64_t* result)
{
    LONG high = static_cast<LONG>(offset >> 32);
    ::SetLastError(NO_ERROR);
    const DWORD low =
        ::SetFilePointer(handle, static_cast<LONG>(offset & 0xFFFFFFFF), &high, method);
    if (low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR)
        return false;
    *result = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(static_cast<DWORD>(high)) << 32) | low);
    return true;
}

std::uint32_t QuerySectorSize(HANDLE disk)
{
    // Room beyond the fixed record: drivers may add partition and detection data.
    struct {
        DISK_GEOMETRY_EX geometry;
        BYTE extra[256];
    } out = {};
    DWORD returned = 0;
    if (!::DeviceIoControl(disk, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, &out, sizeof(out),
                           &returned, nullptr) ||
        returned < sizeof(DISK_GEOMETRY))
        return kFallbackSectorSize;
    // A sector size that is not a sane power of two is not believed.
    const DWORD size = out.geometry.Geometry.BytesPerSector;
    const bool usable = size >= 512 && size <= 65536 && (size & (size - 1)) == 0;
    return usable ? size : kFallbackSectorSize;
}

HostFailure FailureOf(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return HostFailure::Denied;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_DRIVE_LOCKED:
    case ERROR_BUSY:
        return HostFailure::Busy;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
        return HostFailure::Gone;
    default:
        return HostFailure::Other;
    }
}

HostError SystemError(DWORD error)
{
    return {FailureOf(error), static_cast<long>(error)};
}

// The reason of this thread's latest failed open.
thread_local HostError t_openError;

FileHandle OpenFailed(HostError why)
{
    t_openError = why;
    return kInvalidHandle;
}

// What a FileHandle stands for. Disks keep their own position: unbuffered I/O moves only whole
// sectors, so each aligned request sets the OS pointer afresh and moves in one call.
struct OpenFile : SectorDevice {
    OpenFile(HANDLE h, bool disk, std::uint32_t sector, std::int64_t size)
        : handle(h), isDisk(disk), sectorSize(sector), diskSize(size)
    {
    }
    ~OpenFile() override { ::CloseHandle(handle); }
    std::uint32_t BlockSize() const override { return sectorSize; }

    bool ReadAligned(std::uint64_t offset, void* buffer, std::size_t length) override
    {
        DWORD moved = 0;
        const bool called = SeekTo(offset, length) &&
                            ::ReadFile(handle, buffer, static_cast<DWORD>(length), &moved, nullptr);
        return Done(called, moved == length);
    }

    bool WriteAligned(std::uint64_t offset, const void* buffer, std::size_t length) override
    {
        DWORD moved = 0;
        const bool called =
            SeekTo(offset, length) &&
            ::WriteFile(handle, buffer, static_cast<DWORD>(length), &moved, nullptr);
        return Done(called, moved == length);
    }

    // Keeps the system's reason of a failed call; a short transfer is the disk's end. The call
    // must be made before `whole` is worked out (the order of a call's arguments is unspecified).
    bool Done(bool called, bool whole)
    {
        if (!called)
            lastError = SystemError(::GetLastError());
        else if (!whole)
            lastError = {HostFailure::Gone, ERROR_HANDLE_EOF};
        return called && whole;
    }

    bool SeekTo(std::uint64_t offset, std::size_t length)
    {
        std::int64_t reached = 0;
        return length <= MAXDWORD && offset <= static_cast<std::uint64_t>(INT64_MAX) &&
               MovePointer(handle, static_cast<std::int64_t>(offset), FILE_BEGIN, &reached) &&
               reached == static_cast<std::int64_t>(offset);
    }

    HANDLE handle;
    bool isDisk;
    std::uint32_t sectorSize;
    std::int64_t diskSize; // a disk's length, taken at the open; -1 when it cannot be read
    std::int64_t position = 0;
    HostError lastError;
};

std::int64_t DiskLength(HANDLE disk)
{
    // A disk's file size reads as nothing: its length comes from the disk driver.
    GET_LENGTH_INFORMATION length = {};
    DWORD returned = 0;
    if (!::DeviceIoControl(disk, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof(length),
                           &returned, nullptr) ||
        returned < sizeof(length) || length.Length.QuadPart < 0)
        return -1;
    return length.Length.QuadPart;
}

constexpr HostError kRefused{HostFailure::BadArgument, 0};

bool Refuse(OpenFile* file, HostError why, std::uint32_t* done)
{
    if (file != nullptr)
        file->lastError = why;
    if (done != nullptr)
        *done = 0;
    return false;
}

// Positioned disk I/O through the byte-exact sector layer (ReadBytes or WriteBytes), all or
// nothing: a request across the disk's end is refused before it starts, and the position
// moves only when the whole request was done.
// `advance` moves the handle's position past the request.
template <typename Buffer>
bool DiskTransfer(OpenFile& disk, bool (*move)(SectorDevice&, std::uint64_t, Buffer*, std::size_t),
                  std::int64_t offset, bool advance, Buffer* buffer, std::uint32_t length,
                  std::uint32_t* done)
{
    if (offset < 0 || static_cast<std::int64_t>(length) > INT64_MAX - offset ||
        (disk.diskSize >= 0 && offset + length > disk.diskSize))
        return Refuse(&disk, kRefused, done);
    if (!move(disk, static_cast<std::uint64_t>(offset), buffer, length))
        return Refuse(&disk, disk.lastError, done);
    if (advance)
        disk.position = offset + length;
    *done = length;
    return true;
}

// A file read stops short only at the end of the file; *done counts what arrived either way.
bool FileRead(OpenFile& file, void* buffer, std::uint32_t length, std::uint32_t* done)
{
    auto* bytes = static_cast<unsigned char*>(buffer);
    for (DWORD moved = 1; *done < length && moved != 0; *done += moved) {
        if (!::ReadFile(file.handle, bytes + *done, length - *done, &moved, nullptr))
            return Refuse(&file, SystemError(::GetLastError()), done);
    }
    return true;
}

struct ThreadStart {
    ThreadProc proc;
    void* arg;
};

DWORD WINAPI ThreadTrampoline(LPVOID param)
{
    const ThreadStart start = *static_cast<ThreadStart*>(param);
    delete static_cast<ThreadStart*>(param);
    return static_cast<DWORD>(start.proc(start.arg));
}

// Waits for every handle; if a batched wait is refused, each one is waited for alone, so that
// no thread is still running when its handle is closed and its work freed.
void WaitForAll(const ThreadHandle* threads, int count)
{
    HANDLE batch[MAXIMUM_WAIT_OBJECTS];
    for (int first = 0; first < count; first += MAXIMUM_WAIT_OBJECTS) {
        const int end = count - first < MAXIMUM_WAIT_OBJECTS ? count : first + MAXIMUM_WAIT_OBJECTS;
        int n = 0;
        for (int i = first; i < end; ++i) {
            if (threads[i] != 0) // a thread that never started has nothing to wait for
                batch[n++] = reinterpret_cast<HANDLE>(threads[i]);
        }
        if (n > 0 &&
            ::WaitForMultipleObjects(static_cast<DWORD>(n), batch, TRUE, INFINITE) == WAIT_FAILED) {
            for (int i = 0; i < n; ++i)
                ::WaitForSingleObject(batch[i], INFINITE);
        }
    }
}

class Win32Host : public Host {
public:
    void* BeginDiskInterfaces() override
    {
        HDEVINFO set = ::SetupDiGetClassDevsW(&kDiskInterfaceClass, nullptr, nullptr,
                                              DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        std::lock_guard<std::mutex> lock(listedMutex_);
        listed_.clear();
        return set == INVALID_HANDLE_VALUE ? nullptr : set;
    }

    InterfaceStatus DiskInterfacePath(void* list, int index, WChar* path, int capacity) override
    {
        SP_DEVICE_INTERFACE_DATA data = {};
        data.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
        if (list == nullptr || index < 0 ||
            !::SetupDiEnumDeviceInterfaces(list, nullptr, &kDiskInterfaceClass,
                                           static_cast<DWORD>(index), &data))
            return InterfaceStatus::End;
        if (path == nullptr || capacity <= 0)
            return InterfaceStatus::TooLong;
        DWORD required = 0;
        ::SetupDiGetDeviceInterfaceDetailW(list, &data, nullptr, 0, &required, nullptr);
        if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
            return InterfaceStatus::Skip;
        auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(std::malloc(required));
        if (detail == nullptr)
            return InterfaceStatus::Skip;
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        InterfaceStatus status = InterfaceStatus::Skip;
        if (::SetupDiGetDeviceInterfaceDetailW(list, &data, detail, required, nullptr, nullptr))
            status = CopyPath(detail, required, path, capacity);
        std::free(detail);
        if (status == InterfaceStatus::Ok) {
            std::lock_guard<std::mutex> lock(listedMutex_);
            listed_.insert(path);
        }
        return status;
    }

    void EndDiskInterfaces(void* list) override
    {
        if (list != nullptr)
            ::SetupDiDestroyDeviceInfoList(list);
    }

    FileHandle OpenDisk(const WChar* path) override
    {
        if (path == nullptr)
            return OpenFailed(kRefused);
        // Raw writes go only to a disk the latest enumeration listed, never to any path given.
        {
            std::lock_guard<std::mutex> lock(listedMutex_);
            if (listed_.count(path) == 0)
                return OpenFailed({HostFailure::NotListed, 0});
        }
        const HANDLE disk = ::CreateFileW(
            path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
            OPEN_EXISTING,
            FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING | FILE_FLAG_RANDOM_ACCESS, nullptr);
        if (disk == INVALID_HANDLE_VALUE)
            return OpenFailed(SystemError(::GetLastError()));
        return Register(disk, true);
    }

    FileHandle OpenSourceFile(const WChar* path) override
    {
        if (path == nullptr)
            return OpenFailed(kRefused);
        const HANDLE file = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return OpenFailed(SystemError(::GetLastError()));
        // Only a file on a disk has the bytes and the size of an image; a pipe or a device could
        // hold a transfer thread's read for ever.
        BY_HANDLE_FILE_INFORMATION info;
        if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info) ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            ::CloseHandle(file);
            return OpenFailed(kRefused);
        }
        return Register(file, false);
    }

    HostError OpenError() override { return t_openError; }

    HostError LastError(FileHandle file) override
    {
        OpenFile* f = Find(file);
        return f != nullptr ? f->lastError : kRefused;
    }

    std::int64_t Seek(FileHandle file, std::int64_t offset, SeekFrom from) override
    {
        OpenFile* f = Find(file);
        if (f == nullptr)
            return -1;
        if (!f->isDisk) {
            std::int64_t reached = -1;
            const DWORD method = from == SeekFrom::Start ? FILE_BEGIN : FILE_CURRENT;
            if (MovePointer(f->handle, offset, method, &reached))
                return reached;
            f->lastError = SystemError(::GetLastError());
            return -1;
        }
        const std::int64_t base = from == SeekFrom::Start ? 0 : f->position;
        if (offset < -base || offset > INT64_MAX - base) {
            f->lastError = kRefused;
            return -1;
        }
        f->position = base + offset;
        return f->position;
    }

    bool Read(FileHandle file, void* buffer, std::uint32_t length, std::uint32_t* done) override
    {
        OpenFile* f = Find(file);
        if (f == nullptr || done == nullptr || (buffer == nullptr && length > 0))
            return Refuse(f, kRefused, done);
        *done = 0;
        if (length == 0)
            return true;
        return f->isDisk ? DiskTransfer(*f, ReadBytes, f->position, true, buffer, length, done)
                         : FileRead(*f, buffer, length, done);
    }

    bool ReadAt(FileHandle file, std::int64_t offset, void* buffer, std::uint32_t length,
                std::uint32_t* done) override
    {
        OpenFile* f = Find(file);
        if (f == nullptr || done == nullptr || (buffer == nullptr && length > 0) || offset < 0)
            return Refuse(f, kRefused, done);
        *done = 0;
        if (f->isDisk)
            return length == 0 || DiskTransfer(*f, ReadBytes, offset, false, buffer, length, done);
        // A source file's position is the system's own: moved there and back.
        std::int64_t saved = 0;
        std::int64_t reached = 0;
        if (!MovePointer(f->handle, 0, FILE_CURRENT, &saved) ||
            !MovePointer(f->handle, offset, FILE_BEGIN, &reached))
            return Refuse(f, SystemError(::GetLastError()), done);
        const bool read = length == 0 || FileRead(*f, buffer, length, done);
        MovePointer(f->handle, saved, FILE_BEGIN, &reached);
        return read;
    }

    bool Write(FileHandle file, const void* buffer, std::uint32_t length,
               std::uint32_t* done) override
    {
        OpenFile* f = Find(file);
        // Source files are opened for reading only.
        if (f == nullptr || done == nullptr || !f->isDisk || (buffer == nullptr && length > 0))
            return Refuse(f, kRefused, done);
        *done = 0;
        return DiskTransfer(*f, WriteBytes, f->position, true, buffer, length, done);
    }

    bool WriteAt(FileHandle file, std::int64_t offset, const void* buffer, std::uint32_t length,
                 std::uint32_t* done) override
    {
        OpenFile* f = Find(file);
        if (f == nullptr || done == nullptr || !f->isDisk || (buffer == nullptr && length > 0))
            return Refuse(f, kRefused, done);
        *done = 0;
        return DiskTransfer(*f, WriteBytes, offset, false, buffer, length, done);
    }

    std::int64_t Size(FileHandle file) override
    {
        OpenFile* f = Find(file);
        if (f == nullptr)
            return -1;
        if (f->isDisk)
            return DiskLength(f->handle);
        DWORD high = 0;
        ::SetLastError(NO_ERROR);
        const DWORD low = ::GetFileSize(f->handle, &high);
        if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR)
            return -1;
        return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
    }

    bool Flush(FileHandle file) override
    {
        OpenFile* f = Find(file);
        if (f == nullptr)
            return false;
        if (!f->isDisk)
            return true; // read only: nothing to flush
        if (::FlushFileBuffers(f->handle))
            return true;
        f->lastError = SystemError(::GetLastError());
        return false;
    }

    void Close(FileHandle file) override
    {
        std::unique_ptr<OpenFile> closed; // its handle is closed as it goes
        std::lock_guard<std::mutex> lock(filesMutex_);
        const auto found = files_.find(file);
        if (found == files_.end())
            return;
        closed = std::move(found->second);
        files_.erase(found);
    }

    void* AllocIoBuffer(std::size_t size) override { return AllocAligned(size); }
    void FreeIoBuffer(void* buffer) override { FreeAligned(buffer); }

    ThreadHandle StartThread(ThreadProc proc, void* arg) override
    {
        if (proc == nullptr)
            return 0;
        auto* start = new (std::nothrow) ThreadStart{proc, arg};
        if (start == nullptr)
            return 0;
        HANDLE thread = ::CreateThread(nullptr, 0, ThreadTrampoline, start, 0, nullptr);
        if (thread == nullptr) {
            delete start;
            return 0;
        }
        return reinterpret_cast<ThreadHandle>(thread);
    }

    void JoinThreads(const ThreadHandle* threads, int count, int* exitCodes) override
    {
        if (threads == nullptr || count <= 0)
            return;
        WaitForAll(threads, count);
        for (int i = 0; i < count; ++i) {
            HANDLE thread = reinterpret_cast<HANDLE>(threads[i]);
            DWORD code = 0;
            // An unreadable exit code must not pass for success: counted as a thread that never
            // ran.
            const bool read = thread != nullptr && ::GetExitCodeThread(thread, &code);
            if (exitCodes != nullptr)
                exitCodes[i] = read ? static_cast<int>(code) : kResultNoMemory;
            if (thread != nullptr)
                ::CloseHandle(thread);
        }
    }

    void Sleep(int milliseconds) override
    {
        ::Sleep(milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0);
    }

private:
    FileHandle Register(HANDLE handle, bool isDisk)
    {
        const std::uint32_t sectorSize = isDisk ? QuerySectorSize(handle) : 0;
        const std::int64_t diskSize = isDisk ? DiskLength(handle) : -1;
        std::unique_ptr<OpenFile> file(new (std::nothrow)
                                           OpenFile(handle, isDisk, sectorSize, diskSize));
        if (file == nullptr) {
            ::CloseHandle(handle);
            return OpenFailed({HostFailure::Other, ERROR_NOT_ENOUGH_MEMORY});
        }
        std::lock_guard<std::mutex> lock(filesMutex_);
        const FileHandle number = nextHandle_++;
        files_[number] = std::move(file);
        return number;
    }

    OpenFile* Find(FileHandle file)
    {
        std::lock_guard<std::mutex> lock(filesMutex_);
        const auto found = files_.find(file);
        return found != files_.end() ? found->second.get() : nullptr;
    }

    // Handles given out and not yet closed, by number; a number is never given out twice.
    std::mutex filesMutex_;
    std::map<FileHandle, std::unique_ptr<OpenFile>> files_;
    FileHandle nextHandle_ = 1;

    std::mutex listedMutex_;
    std::set<std::wstring> listed_; // the disk paths of the latest enumeration

    // The record's path must end inside the record; a path that does not fit is never cut.
    static InterfaceStatus CopyPath(const SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail,
                                    DWORD recordSize, WChar* path, int capacity)
    {
        const std::size_t room =
            (recordSize - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(WCHAR);
        std::size_t length = 0;
        while (length < room && detail->DevicePath[length] != 0)
            ++length;
        if (length == room)
            return InterfaceStatus::Skip;
        return Copy16(path, capacity, detail->DevicePath) ? InterfaceStatus::Ok
                                                          : InterfaceStatus::TooLong;
    }
};

} // namespace

Host& NativeHost()
{
    // Never destroyed: threads may still reach it while the process ends.
    static Host* const host = new Win32Host;
    return *host;
}

#endif // _WIN32
