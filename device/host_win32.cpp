// The Windows host: SetupAPI for the list of disks, unbuffered write-through handles for the
// disks, plain handles for source files, and Win32 threads.
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

// What a FileHandle points at. Disks keep their own position: unbuffered I/O moves only whole
// sectors, so each aligned request sets the OS pointer afresh and moves in one call.
struct OpenFile : SectorDevice {
    OpenFile(HANDLE h, bool disk, std::uint32_t sector)
        : handle(h), isDisk(disk), sectorSize(sector)
    {
    }
    std::uint32_t BlockSize() const override { return sectorSize; }

    bool ReadAligned(std::uint64_t offset, void* buffer, std::size_t length) override
    {
        DWORD moved = 0;
        return SeekTo(offset, length) &&
               ::ReadFile(handle, buffer, static_cast<DWORD>(length), &moved, nullptr) &&
               moved == length;
    }

    bool WriteAligned(std::uint64_t offset, const void* buffer, std::size_t length) override
    {
        DWORD moved = 0;
        return SeekTo(offset, length) &&
               ::WriteFile(handle, buffer, static_cast<DWORD>(length), &moved, nullptr) &&
               moved == length;
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
    std::int64_t position = 0;
};

OpenFile* FromHandle(FileHandle file)
{
    return file == kInvalidHandle ? nullptr : reinterpret_cast<OpenFile*>(file);
}

FileHandle Wrap(HANDLE handle, bool isDisk)
{
    if (handle == INVALID_HANDLE_VALUE)
        return kInvalidHandle;
    const std::uint32_t sectorSize = isDisk ? QuerySectorSize(handle) : 0;
    auto* file = new (std::nothrow) OpenFile(handle, isDisk, sectorSize);
    if (file == nullptr) {
        ::CloseHandle(handle);
        return kInvalidHandle;
    }
    return reinterpret_cast<FileHandle>(file);
}

// Positioned disk I/O through the byte-exact sector layer (ReadBytes or WriteBytes); the
// position moves only when the whole request was done.
template <typename Buffer>
bool DiskTransfer(OpenFile& disk, bool (*move)(SectorDevice&, std::uint64_t, Buffer*, std::size_t),
                  Buffer* buffer, std::uint32_t length, std::uint32_t* done)
{
    if (static_cast<std::int64_t>(length) > INT64_MAX - disk.position ||
        !move(disk, static_cast<std::uint64_t>(disk.position), buffer, length))
        return false;
    disk.position += length;
    *done = length;
    return true;
}

// A file read stops short only at the end of the file; *done counts what arrived either way.
bool FileRead(HANDLE handle, void* buffer, std::uint32_t length, std::uint32_t* done)
{
    auto* bytes = static_cast<unsigned char*>(buffer);
    for (DWORD moved = 1; *done < length && moved != 0; *done += moved) {
        if (!::ReadFile(handle, bytes + *done, length - *done, &moved, nullptr))
            return false;
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
        const int n = count - first < MAXIMUM_WAIT_OBJECTS ? count - first : MAXIMUM_WAIT_OBJECTS;
        for (int i = 0; i < n; ++i)
            batch[i] = reinterpret_cast<HANDLE>(threads[first + i]);
        if (::WaitForMultipleObjects(static_cast<DWORD>(n), batch, TRUE, INFINITE) == WAIT_FAILED) {
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
        // Raw writes go only to a disk the latest enumeration listed, never to any path given.
        {
            std::lock_guard<std::mutex> lock(listedMutex_);
            if (path == nullptr || listed_.count(path) == 0)
                return kInvalidHandle;
        }
        return Wrap(::CreateFileW(path, GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING |
                                      FILE_FLAG_RANDOM_ACCESS,
                                  nullptr),
                    true);
    }

    FileHandle OpenSourceFile(const WChar* path) override
    {
        const HANDLE file = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return kInvalidHandle;
        // Only a file on a disk has the bytes and the size of an image; a pipe or a device could
        // hold a transfer thread's read for ever.
        BY_HANDLE_FILE_INFORMATION info;
        if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info) ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            ::CloseHandle(file);
            return kInvalidHandle;
        }
        return Wrap(file, false);
    }

    std::int64_t Seek(FileHandle file, std::int64_t offset, SeekFrom from) override
    {
        OpenFile* f = FromHandle(file);
        if (f == nullptr)
            return -1;
        if (!f->isDisk) {
            std::int64_t reached = -1;
            const DWORD method = from == SeekFrom::Start ? FILE_BEGIN : FILE_CURRENT;
            return MovePointer(f->handle, offset, method, &reached) ? reached : -1;
        }
        const std::int64_t base = from == SeekFrom::Start ? 0 : f->position;
        if (offset < -base || offset > INT64_MAX - base)
            return -1;
        f->position = base + offset;
        return f->position;
    }

    bool Read(FileHandle file, void* buffer, std::uint32_t length, std::uint32_t* done) override
    {
        OpenFile* f = FromHandle(file);
        *done = 0;
        return f != nullptr && (f->isDisk ? DiskTransfer(*f, ReadBytes, buffer, length, done)
                                          : FileRead(f->handle, buffer, length, done));
    }

    bool Write(FileHandle file, const void* buffer, std::uint32_t length,
               std::uint32_t* done) override
    {
        OpenFile* f = FromHandle(file);
        *done = 0;
        // Source files are opened for reading only.
        return f != nullptr && f->isDisk && DiskTransfer(*f, WriteBytes, buffer, length, done);
    }

    std::int64_t Size(FileHandle file) override
    {
        OpenFile* f = FromHandle(file);
        if (f == nullptr)
            return -1;
        if (f->isDisk) {
            // A disk's file size reads as nothing: its length comes from the disk driver.
            GET_LENGTH_INFORMATION length = {};
            DWORD returned = 0;
            if (!::DeviceIoControl(f->handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length,
                                   sizeof(length), &returned, nullptr) ||
                returned < sizeof(length) || length.Length.QuadPart < 0)
                return -1;
            return length.Length.QuadPart;
        }
        DWORD high = 0;
        ::SetLastError(NO_ERROR);
        const DWORD low = ::GetFileSize(f->handle, &high);
        if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR)
            return -1;
        return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
    }

    bool Flush(FileHandle file) override
    {
        OpenFile* f = FromHandle(file);
        return f != nullptr && ::FlushFileBuffers(f->handle);
    }

    void Close(FileHandle file) override
    {
        if (OpenFile* f = FromHandle(file)) {
            ::CloseHandle(f->handle);
            delete f;
        }
    }

    void* AllocIoBuffer(std::size_t size) override { return AllocAligned(size); }
    void FreeIoBuffer(void* buffer) override { FreeAligned(buffer); }

    ThreadHandle StartThread(ThreadProc proc, void* arg) override
    {
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
        if (count <= 0)
            return;
        WaitForAll(threads, count);
        for (int i = 0; i < count; ++i) {
            HANDLE thread = reinterpret_cast<HANDLE>(threads[i]);
            DWORD code = 0;
            // An unreadable exit code must not pass for success: counted as a thread that never
            // ran.
            exitCodes[i] =
                ::GetExitCodeThread(thread, &code) ? static_cast<int>(code) : kResultNoMemory;
            ::CloseHandle(thread);
        }
    }

    void Sleep(int milliseconds) override
    {
        ::Sleep(milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0);
    }

private:
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
