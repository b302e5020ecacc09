// Byte-exact reads and writes on top of a disk that takes only whole, aligned sectors.
#pragma once

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
