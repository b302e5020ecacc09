// What one operating system gives the engine's host: its own calls, and nothing else. The host
// built on them (host.cpp, NativeHost) keeps, once for every system, the handle table, the
// refusals of bad arguments, the all-or-nothing disk requests and the reasons of failures;
// host_linux.cpp and host_win32.cpp each implement these calls for their system.
#pragma once

#include "device/host.h"
#include "device/text16.h"

#include <cstddef>
#include <cstdint>

// The system's own handle of an open disk or file: a descriptor, a HANDLE.
using SystemFile = std::intptr_t;

// Every call is made by the host with arguments it has already checked: paths and buffers are
// not null, offsets lie between 0 and the 64-bit limit, lengths are above 0.
class SystemCalls {
public:
    // The system's own reasons for the failures that the host finds without a call of its own.
    struct Reasons {
        HostError noMemory;   // no room for one more handle
        HostError readAtEnd;  // a disk read that met the disk's end inside the request
        HostError writeAtEnd; // the same for a write
    };

    explicit SystemCalls(const Reasons& own) : reasons(own) {}
    virtual ~SystemCalls() = default;

    const Reasons reasons;

    // The disk interfaces present now, in a stable order (nullptr when none can be listed), the
    // path of one member, and the list's release. ListedPath gives End past the last member.
    virtual void* BeginDiskList() = 0;
    virtual InterfaceStatus ListedPath(void* list, int index, String16* path) = 0;
    virtual void EndDiskList(void* list) = 0;
    // The system's own name of a disk of the latest list; false when it has none.
    virtual bool DiskNode(const WChar* /*path*/, String16* /*node*/) { return false; }

    // A disk of the latest list, opened for raw, unbuffered, write-through reading and writing.
    virtual bool OpenDisk(const WChar* path, SystemFile* file, HostError* why) = 0;
    // A file on a disk, opened for reading; nothing else (a pipe, a device, a folder) is a source.
    virtual bool OpenSource(const WChar* path, SystemFile* file, HostError* why) = 0;
    virtual void Close(SystemFile file) = 0;

    // One positioned call: moves at most `length` bytes at `offset` and gives the count in
    // *moved, 0 at the end of the file or disk. Disk requests are whole aligned sectors.
    virtual bool ReadAt(SystemFile file, std::uint64_t offset, void* buffer, std::size_t length,
                        std::size_t* moved, HostError* why) = 0;
    virtual bool WriteAt(SystemFile file, std::uint64_t offset, const void* buffer,
                         std::size_t length, std::size_t* moved, HostError* why) = 0;
    // Length in bytes of a disk or a file; -1 when the system does not tell it.
    virtual std::int64_t Size(SystemFile file, bool disk) = 0;
    // A disk's logical sector size: a power of two, at least 512.
    virtual std::uint32_t SectorSize(SystemFile disk) = 0;
    // Makes every byte written to a disk reach the device.
    virtual bool Flush(SystemFile disk, HostError* why) = 0;

    // Starts a thread that runs RunHostThread(thread); *system is the system's own handle of it.
    virtual bool StartThread(void* thread, std::uintptr_t* system) = 0;
    // Waits for that thread to end and releases its handle; false when it could not be waited for.
    virtual bool AwaitThread(std::uintptr_t system) = 0;
    virtual void Sleep(int milliseconds) = 0; // above 0
};

// The calls of the system this build is for, made on first use and alive until the process ends.
SystemCalls& PlatformCalls();
// What a thread started by SystemCalls::StartThread runs.
void RunHostThread(void* thread);

// Memory aligned to `alignment` (a power of two), from the system; nullptr when there is none.
void* AllocSystemAligned(std::size_t size, std::size_t alignment);
void FreeSystemAligned(void* buffer);

// For the calls: stores the reason and gives false.
inline bool Failed(HostError* why, const HostError& reason)
{
    *why = reason;
    return false;
}
