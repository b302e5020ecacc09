// The Windows system's calls for the engine's host: SetupAPI for the list of disks, unbuffered
// write-through handles for the disks, plain handles for source files, and Win32 threads.
#ifdef _WIN32

#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <malloc.h>
#include <setupapi.h>
#include <winioctl.h>

#include "device/system_calls.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>

namespace {

// Defined here so that no initguid/uuid library dance is needed: {53F56307-B6BF-11D0-94F2-...}.
const GUID kDiskInterfaceClass = {
    0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

constexpr std::uint32_t kFallbackSectorSize = 512;
// Unbuffered I/O moves only whole sectors: a short transfer is the disk's end.
constexpr HostError kDiskEnd{HostFailure::Gone, ERROR_HANDLE_EOF};

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

// The reason the system gives for the call that has just failed.
HostError LastSystemError()
{
    const DWORD error = ::GetLastError();
    return {FailureOf(error), static_cast<long>(error)};
}

HANDLE HandleOf(SystemFile file)
{
    return reinterpret_cast<HANDLE>(file);
}

// SetFilePointer with the high word, from the start; a low result of 0xFFFFFFFF is an error
// only when GetLastError says so, hence the reset before the call.
bool SeekTo(HANDLE handle, std::uint64_t offset)
{
    LONG high = static_cast<LONG>(offset >> 32);
    ::SetLastError(NO_ERROR);
    const DWORD low =
        ::SetFilePointer(handle, static_cast<LONG>(offset & 0xFFFFFFFF), &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR)
        return false;
    return ((static_cast<std::uint64_t>(static_cast<DWORD>(high)) << 32) | low) == offset;
}

DWORD CallLength(std::size_t length)
{
    return length > MAXDWORD ? MAXDWORD : static_cast<DWORD>(length);
}

// ReadFile or WriteFile at offset: the system's file pointer is set afresh for the call. The call
// is made before the count is looked at (the order of a call's arguments is unspecified).
template <typename Call, typename Buffer>
bool Positioned(Call call, SystemFile file, std::uint64_t offset, Buffer* buffer,
                std::size_t length, std::size_t* moved, HostError* why)
{
    const HANDLE handle = HandleOf(file);
    DWORD count = 0;
    const bool called =
        SeekTo(handle, offset) && call(handle, buffer, CallLength(length), &count, nullptr);
    *moved = count;
    return called || Failed(why, LastSystemError());
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

// The record's path must end inside the record; a path that does not fit is never cut.
InterfaceStatus CopyPath(const SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD recordSize,
                         String16* path)
{
    const std::size_t room =
        (recordSize - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(WCHAR);
    std::size_t length = 0;
    while (length < room && detail->DevicePath[length] != 0)
        ++length;
    if (length == room)
        return InterfaceStatus::Skip;
    path->assign(detail->DevicePath, length);
    return InterfaceStatus::Ok;
}

DWORD WINAPI RunThread(LPVOID thread)
{
    RunHostThread(thread);
    return 0;
}

class Win32Calls final : public SystemCalls {
public:
    Win32Calls() : SystemCalls({{HostFailure::Other, ERROR_NOT_ENOUGH_MEMORY}, kDiskEnd, kDiskEnd})
    {
    }

    void* BeginDiskList() override
    {
        HDEVINFO set = ::SetupDiGetClassDevsW(&kDiskInterfaceClass, nullptr, nullptr,
                                              DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        std::lock_guard<std::mutex> lock(listedMutex_);
        listed_.clear();
        return set == INVALID_HANDLE_VALUE ? nullptr : set;
    }

    InterfaceStatus ListedPath(void* list, int index, String16* path) override
    {
        SP_DEVICE_INTERFACE_DATA data = {};
        data.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
        if (!::SetupDiEnumDeviceInterfaces(list, nullptr, &kDiskInterfaceClass,
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
            status = CopyPath(detail, required, path);
        std::free(detail);
        if (status == InterfaceStatus::Ok) {
            std::lock_guard<std::mutex> lock(listedMutex_);
            listed_.insert(*path);
        }
        return status;
    }

    void EndDiskList(void* list) override { ::SetupDiDestroyDeviceInfoList(list); }

    bool OpenDisk(const WChar* path, SystemFile* file, HostError* why) override
    {
        // Raw writes go only to a disk the latest enumeration listed, never to any path given.
        {
            std::lock_guard<std::mutex> lock(listedMutex_);
            if (listed_.count(path) == 0)
                return Failed(why, {HostFailure::NotListed, 0});
        }
        const HANDLE disk = ::CreateFileW(
            path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
            OPEN_EXISTING,
            FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING | FILE_FLAG_RANDOM_ACCESS, nullptr);
        if (disk == INVALID_HANDLE_VALUE)
            return Failed(why, LastSystemError());
        *file = reinterpret_cast<SystemFile>(disk);
        return true;
    }

    bool OpenSource(const WChar* path, SystemFile* file, HostError* why) override
    {
        const HANDLE source = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS, nullptr);
        if (source == INVALID_HANDLE_VALUE)
            return Failed(why, LastSystemError());
        // Only a file on a disk has the bytes and the size of an image; a pipe or a device could
        // hold a transfer thread's read for ever.
        BY_HANDLE_FILE_INFORMATION info;
        if (::GetFileType(source) != FILE_TYPE_DISK ||
            !::GetFileInformationByHandle(source, &info) ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            ::CloseHandle(source);
            return Failed(why, {HostFailure::BadArgument, 0});
        }
        *file = reinterpret_cast<SystemFile>(source);
        return true;
    }

    void Close(SystemFile file) override { ::CloseHandle(HandleOf(file)); }

    bool ReadAt(SystemFile file, std::uint64_t offset, void* buffer, std::size_t length,
                std::size_t* moved, HostError* why) override
    {
        return Positioned(::ReadFile, file, offset, buffer, length, moved, why);
    }

    bool WriteAt(SystemFile file, std::uint64_t offset, const void* buffer, std::size_t length,
                 std::size_t* moved, HostError* why) override
    {
        return Positioned(::WriteFile, file, offset, buffer, length, moved, why);
    }

    std::int64_t Size(SystemFile file, bool disk) override
    {
        if (disk)
            return DiskLength(HandleOf(file));
        DWORD high = 0;
        ::SetLastError(NO_ERROR);
        const DWORD low = ::GetFileSize(HandleOf(file), &high);
        if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR)
            return -1;
        return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
    }

    std::uint32_t SectorSize(SystemFile disk) override { return QuerySectorSize(HandleOf(disk)); }

    bool Flush(SystemFile disk, HostError* why) override
    {
        return ::FlushFileBuffers(HandleOf(disk)) || Failed(why, LastSystemError());
    }

    bool StartThread(void* thread, std::uintptr_t* system) override
    {
        const HANDLE handle = ::CreateThread(nullptr, 0, RunThread, thread, 0, nullptr);
        *system = reinterpret_cast<std::uintptr_t>(handle);
        return handle != nullptr;
    }

    bool AwaitThread(std::uintptr_t system) override
    {
        const HANDLE thread = reinterpret_cast<HANDLE>(system);
        const bool ended = ::WaitForSingleObject(thread, INFINITE) == WAIT_OBJECT_0;
        ::CloseHandle(thread);
        return ended;
    }

    void Sleep(int milliseconds) override { ::Sleep(static_cast<DWORD>(milliseconds)); }

private:
    std::mutex listedMutex_;
    std::set<std::wstring> listed_; // the disk paths of the latest enumeration
};

} // namespace

SystemCalls& PlatformCalls()
{
    static SystemCalls* const calls = new Win32Calls;
    return *calls;
}

void* AllocSystemAligned(std::size_t size, std::size_t alignment)
{
    return _aligned_malloc(size, alignment);
}

void FreeSystemAligned(void* buffer)
{
    _aligned_free(buffer);
}

#endif // _WIN32
