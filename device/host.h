// The one road from the engine to the operating system. The platform's own host keeps this
// contract once, in host.cpp, on the calls of its system (device/system_calls.h: Linux or
// Windows); the test host keeps it on its own. The engine and everything above it never learn
// which one runs.
#pragma once

#include "device/types.h"

#include <atomic>

enum class SeekFrom { Start, Current };

// What the host says of one member of its list of present disk interfaces.
enum class InterfaceStatus {
    Ok,      // the path was copied, terminator included
    End,     // no member at this index: the enumeration is over
    Skip,    // the member's details cannot be had; go on with the next index
    TooLong, // the path does not fit the caller's buffer; nothing was copied
};

using ThreadProc = int (*)(void* arg);

// Why a call of the host failed: a few kinds the engine can explain, and the system's own code
// (errno, GetLastError) for the log.
enum class HostFailure {
    None,        // nothing failed
    Denied,      // no permission to open or use it
    Busy,        // held by another program (mounted, opened exclusively, shared access refused)
    Gone,        // it does not exist (any more): unplugged, removed, no such file
    NotListed,   // a disk path that the latest enumeration did not give
    BadArgument, // a null, stale or made-up handle, a null pointer, a position out of range
    Other,       // any other failure of the system; `code` says which
};

struct HostError {
    HostFailure kind = HostFailure::None;
    long code = 0; // the system's error number; 0 when the host refused the call itself
};

// "permission denied (system error 13)" and the like; never longer than capacity - 1 bytes.
void FormatHostError(const HostError& error, char* text, int capacity);

// The host contract, the same on every host:
//
// Handles. A valid handle is one that OpenDisk or OpenSourceFile gave and Close has not yet
// closed. Every other value (kInvalidHandle, 0, a made-up number, a closed handle) is refused by
// every call without touching memory or the system: Seek and Size give -1, Read and Write give
// false with *done = 0, Flush gives false, Close does nothing, LastError gives BadArgument. A
// handle's value is never given out again, so a stale handle cannot reach a newer file. One
// handle is used by one thread at a time; different handles may be used at the same time.
//
// Positions. Each handle has its own position, 0 after the open. Seek may move it past the end;
// a seek to a position below 0 or beyond the 64-bit range fails and leaves it where it was.
//
// Reads and writes move at the position and advance it by *done; `done` is never null (a call
// without it is refused and moves nothing). A length of 0 moves nothing and succeeds, whatever
// the buffer; a null buffer with a length above 0 is refused. A disk request is all or nothing
// as the caller sees it: true with *done = length, or false with *done = 0 and the position
// unchanged; a request that would cross the end of the disk is refused before any byte is
// written, and no byte outside a request ever changes. A source file is read only: its reads
// give fewer bytes than asked for only at its end (0 at or past it, and still true); Write on it
// is refused. ReadAt and WriteAt do the same at the offset they are given and leave the
// position as it was; a negative offset is refused.
//
// Flush makes every byte written to a disk reach the device; on a source file it has nothing to
// do and gives true. Size gives a disk's or file's length in bytes.
//
// Failures. A failed OpenDisk or OpenSourceFile leaves its reason for OpenError on the same
// thread; a failed call on a valid handle leaves its reason for LastError on that handle.
//
// Enumeration: DiskInterfacePath gives End for a null list or an index below 0, and TooLong
// (nothing copied) for a null path or a capacity that cannot hold the path and its terminator.
// Threads: StartThread(nullptr, ...) gives 0; JoinThreads takes a null exitCodes (the codes are
// dropped) and does nothing for a null list or a count of 0 or less; a 0 in the list gets 110.
// Buffers: AllocIoBuffer gives memory aligned to kIoAlignment (a size of 0 is taken as 1);
// FreeIoBuffer(nullptr) does nothing. Sleep of 0 or less returns at once.
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
    // The host's own name of a listed disk ("/dev/sdb"), for people to recognise it; false, and
    // an empty name, when the host has none or the path is not in the latest enumeration.
    virtual bool DiskNode(const WChar* path, WChar* node, int capacity);
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
    // Positioned: at `offset`, the position untouched. The default seeks there and back, for a
    // host that only wraps another; the platform hosts move at the offset itself.
    virtual bool ReadAt(FileHandle file, std::int64_t offset, void* buffer, std::uint32_t length,
                        std::uint32_t* done);
    virtual bool WriteAt(FileHandle file, std::int64_t offset, const void* buffer,
                         std::uint32_t length, std::uint32_t* done);
    // Size in bytes, or -1 on failure.
    virtual std::int64_t Size(FileHandle file) = 0;
    // Makes every written byte reach the device.
    virtual bool Flush(FileHandle file) = 0;
    virtual void Close(FileHandle file) = 0;

    // The reason of the calling thread's latest failed open; kind None when there was none.
    // Hosts that cannot tell give Other.
    virtual HostError OpenError();
    // The reason of the latest failed call on a valid handle (None when none failed since the
    // open); BadArgument for a handle that is not valid.
    virtual HostError LastError(FileHandle file);

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
