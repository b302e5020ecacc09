#pragma once

#include "device/types.h"

#include <atomic>

// The one road from the engine to the operating system. A Linux, a Windows and a test host
// implement it; the engine and everything above it never learn which one runs.

enum class SeekFrom { Start, Current };

// What the host says of one member of its list of present disk interfaces.
enum class InterfaceStatus {
    Ok,      // the path was copied, terminator included
    End,     // no member at this index: the enumeration is over
    Skip,    // the member's details cannot be had; go on with the next index
    TooLong, // the path does not fit the caller's buffer; nothing was copied
};

using ThreadProc = int (*)(void* arg);

class Host {
public:
    virtual ~Host() = default;

    // Disk interfaces present now, in a stable order. Begin gives a list (nullptr when none can
    // be made), which End releases.
    virtual void* BeginDiskInterfaces() = 0;
    virtual InterfaceStatus DiskInterfacePath(void* list, int index, WChar* path, int capacity) = 0;
    virtual void EndDiskInterfaces(void* list) = 0;

    // A disk interface path from the latest enumeration, opened for raw, unbuffered,
    // write-through reading and writing; kInvalidHandle when it cannot be opened.
    virtual FileHandle OpenDisk(const WChar* path) = 0;
    // A file opened for reading from its first byte; kInvalidHandle on failure.
    virtual FileHandle OpenSourceFile(const WChar* path) = 0;

    // Moves the handle's position; gives the new position, or -1 on failure.
    virtual std::int64_t Seek(FileHandle file, std::int64_t offset, SeekFrom from) = 0;
    // Reads or writes at the position and advances it by *done. Disk requests are byte-exact
    // whatever their offset and length: no byte outside the request changes. A read of a file
    // gives fewer bytes than asked for only at its end.
    virtual bool Read(FileHandle file, void* buffer, std::uint32_t length, std::uint32_t* done) = 0;
    virtual bool Write(FileHandle file, const void* buffer, std::uint32_t length,
                       std::uint32_t* done) = 0;
    // Size in bytes, or -1 on failure.
    virtual std::int64_t Size(FileHandle file) = 0;
    // Makes every written byte reach the device.
    virtual bool Flush(FileHandle file) = 0;
    virtual void Close(FileHandle file) = 0;

    // Buffers aligned for unbuffered disk I/O; nullptr when memory is short.
    virtual void* AllocIoBuffer(std::size_t size) = 0;
    virtual void FreeIoBuffer(void* buffer) = 0;

    // Starts a thread running proc(arg) at once; 0 when it cannot be started.
    virtual ThreadHandle StartThread(ThreadProc proc, void* arg) = 0;
    // Waits for all the threads, stores each one's result in exitCodes (same order) and
    // releases the handles.
    virtual void JoinThreads(const ThreadHandle* threads, int count, int* exitCodes) = 0;

    virtual void Sleep(int milliseconds) = 0;
    // A pause that ends early, within a few milliseconds, once `wake` is set; at once when it is
    // set already. The default naps in short Sleeps and looks at the flag between them.
    virtual void SleepUnless(int milliseconds, const std::atomic<bool>& wake);
};

// The host in use: the platform's own unless a test has put another in its place.
Host& CurrentHost();
// Puts a host in place (nullptr restores the platform's own) and gives the one it replaced.
Host* SetHost(Host* host);
// The platform's own host, made on first use and alive until the process ends.
Host& NativeHost();
