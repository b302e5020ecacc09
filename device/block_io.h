// The disk I/O layer: byte-exact reads and writes on top of a disk that takes only whole,
// aligned sectors, and the engine's positioned I/O on the host's disks.
#pragma once

#include "device/host.h"

#include <cstddef>
#include <cstdint>

// A disk that only takes whole sectors at sector-aligned offsets from sector-aligned memory,
// as unbuffered I/O demands. ReadBytes and WriteBytes put any byte-exact request on top of it.
class SectorDevice {
public:
    virtual ~SectorDevice() = default;
    // Logical block size in bytes: a power of two, at least 512.
    virtual std::uint32_t BlockSize() const = 0;
    // offset, length and buffer are multiples of BlockSize(); true only when all of it moved.
    virtual bool ReadAligned(std::uint64_t offset, void* buffer, std::size_t length) = 0;
    virtual bool WriteAligned(std::uint64_t offset, const void* buffer, std::size_t length) = 0;
};

// Alignment of the buffers that AllocAligned gives: enough for every logical block size seen.
constexpr std::size_t kIoAlignment = 4096;

void* AllocAligned(std::size_t size);
void FreeAligned(void* buffer);

// Byte-exact positioned I/O. An aligned request goes straight to the device; any other is done
// through an aligned bounce buffer, reading the sectors it only partly covers first, so that no
// byte outside the request changes. True only when the whole request was done.
bool ReadBytes(SectorDevice& device, std::uint64_t offset, void* buffer, std::size_t length);
bool WriteBytes(SectorDevice& device, std::uint64_t offset, const void* buffer, std::size_t length);

// Positioned I/O on a disk handle of the current host. A handle is used by one thread at a time.
// The new position, or -1 when the host reports an error.
std::int64_t SeekDisk(FileHandle disk, std::int64_t offset, SeekFrom from);
// From a seek to offset: true only when the seek landed there and all `length` bytes moved; the
// position is then past them.
bool ReadDiskFrom(FileHandle disk, std::int64_t offset, void* buffer, std::uint32_t length);
bool WriteDiskFrom(FileHandle disk, std::int64_t offset, const void* buffer, std::uint32_t length);
// At offset itself, the position untouched: true only when all `length` bytes moved.
bool ReadDiskAt(FileHandle disk, std::int64_t offset, void* buffer, std::uint32_t length);
bool WriteDiskAt(FileHandle disk, std::int64_t offset, const void* buffer, std::uint32_t length);
