// Byte-exact reads and writes on devices that take only whole, aligned sectors: requests
// that are not aligned go through a bounce buffer, read, changed and written back. And the
// engine's positioned I/O on the disks of the host.
#include "device/block_io.h"

#include "device/system_calls.h"

#include <cstdint>
#include <cstring>
#include <limits>

namespace {

// Bytes moved per bounce: large enough that an unaligned transfer keeps most of the device's
// speed, small enough to allocate on every call.
constexpr std::size_t kWindow = 64 * 1024;

void* AllocAlignedTo(std::size_t size, std::size_t alignment)
{
    if (size == 0)
        size = 1;
    // No object can be larger; the allocator need not be asked.
    if (size > static_cast<std::size_t>(PTRDIFF_MAX) - alignment)
        return nullptr;
    return AllocSystemAligned(size, alignment);
}

bool IsValidBlockSize(std::uint32_t size)
{
    return size >= 512 && (size & (size - 1)) == 0;
}

// The sectors that a request covers, and a bounce buffer for one window of them.
struct Bounce {
    std::uint64_t block = 0;
    std::uint64_t first = 0; // offset of the first covered sector
    std::uint64_t end = 0;   // end of the last covered sector
    std::size_t window = 0;
    unsigned char* buffer = nullptr;

    ~Bounce() { FreeAligned(buffer); }

    bool Prepare(SectorDevice& device, std::uint64_t offset, std::size_t length)
    {
        block = device.BlockSize();
        if (!IsValidBlockSize(static_cast<std::uint32_t>(block)))
            return false;
        // The covered sectors must end before the 64-bit offsets run out.
        const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
        if (length > max - block || offset > max - block - length)
            return false;
        first = offset - offset % block;
        const std::uint64_t last = offset + length - 1;
        end = last - last % block + block;
        window = kWindow > block ? kWindow : static_cast<std::size_t>(block);
        if (end - first < window)
            window = static_cast<std::size_t>(end - first);
        const std::size_t alignment = block > kIoAlignment ? block : kIoAlignment;
        buffer = static_cast<unsigned char*>(AllocAlignedTo(window, alignment));
        return buffer != nullptr;
    }
};

bool IsAligned(SectorDevice& device, std::uint64_t offset, const void* buffer, std::size_t length)
{
    const std::uint32_t block = device.BlockSize();
    if (!IsValidBlockSize(block))
        return false;
    return offset % block == 0 && length % block == 0 &&
           reinterpret_cast<std::uintptr_t>(buffer) % block == 0;
}

} // namespace

void* AllocAligned(std::size_t size)
{
    return AllocAlignedTo(size, kIoAlignment);
}

void FreeAligned(void* buffer)
{
    FreeSystemAligned(buffer);
}

bool ReadBytes(SectorDevice& device, std::uint64_t offset, void* buffer, std::size_t length)
{
    if (length == 0)
        return true;
    if (buffer == nullptr)
        return false;
    if (IsAligned(device, offset, buffer, length))
        return device.ReadAligned(offset, buffer, length);
    Bounce bounce;
    if (!bounce.Prepare(device, offset, length))
        return false;
    unsigned char* out = static_cast<unsigned char*>(buffer);
    const std::uint64_t requestEnd = offset + length;
    for (std::uint64_t start = bounce.first; start < bounce.end; start += bounce.window) {
        const std::uint64_t left = bounce.end - start;
        const std::size_t size =
            left < bounce.window ? static_cast<std::size_t>(left) : bounce.window;
        if (!device.ReadAligned(start, bounce.buffer, size))
            return false;
        const std::uint64_t from = offset > start ? offset : start;
        const std::uint64_t to = requestEnd < start + size ? requestEnd : start + size;
        std::memcpy(out + (from - offset), bounce.buffer + (from - start),
                    static_cast<std::size_t>(to - from));
    }
    return true;
}

bool WriteBytes(SectorDevice& device, std::uint64_t offset, const void* buffer, std::size_t length)
{
    if (length == 0)
        return true;
    if (buffer == nullptr)
        return false;
    if (IsAligned(device, offset, buffer, length))
        return device.WriteAligned(offset, buffer, length);
    Bounce bounce;
    if (!bounce.Prepare(device, offset, length))
        return false;
    const unsigned char* in = static_cast<const unsigned char*>(buffer);
    const std::uint64_t requestEnd = offset + length;
    const std::uint64_t block = bounce.block;
    for (std::uint64_t start = bounce.first; start < bounce.end; start += bounce.window) {
        const std::uint64_t left = bounce.end - start;
        const std::size_t size =
            left < bounce.window ? static_cast<std::size_t>(left) : bounce.window;
        const std::uint64_t from = offset > start ? offset : start;
        const std::uint64_t to = requestEnd < start + size ? requestEnd : start + size;
        // Only the first and the last sector of the request can be partly covered; their
        // other bytes must be written back as the device holds them.
        const bool headPartial = from != start;
        const bool tailPartial = to != start + size;
        if (headPartial &&
            !device.ReadAligned(start, bounce.buffer, static_cast<std::size_t>(block))) {
            return false;
        }
        const std::uint64_t lastSector = start + size - block;
        if (tailPartial && !(headPartial && lastSector == start) &&
            !device.ReadAligned(lastSector, bounce.buffer + (lastSector - start),
                                static_cast<std::size_t>(block))) {
            return false;
        }
        std::memcpy(bounce.buffer + (from - start), in + (from - offset),
                    static_cast<std::size_t>(to - from));
        if (!device.WriteAligned(start, bounce.buffer, size))
            return false;
    }
    return true;
}

std::int64_t SeekDisk(FileHandle disk, std::int64_t offset, SeekFrom from)
{
    return CurrentHost().Seek(disk, offset, from);
}

// A request that lands elsewhere than at offset moves nothing: its bytes would go to the wrong
// place.
bool ReadDiskFrom(FileHandle disk, std::int64_t offset, void* buffer, std::uint32_t length)
{
    std::uint32_t done = 0;
    return SeekDisk(disk, offset, SeekFrom::Start) == offset &&
           CurrentHost().Read(disk, buffer, length, &done) && done == length;
}

bool WriteDiskFrom(FileHandle disk, std::int64_t offset, const void* buffer, std::uint32_t length)
{
    std::uint32_t done = 0;
    return SeekDisk(disk, offset, SeekFrom::Start) == offset &&
           CurrentHost().Write(disk, buffer, length, &done) && done == length;
}

bool ReadDiskAt(FileHandle disk, std::int64_t offset, void* buffer, std::uint32_t length)
{
    std::uint32_t done = 0;
    return CurrentHost().ReadAt(disk, offset, buffer, length, &done) && done == length;
}

bool WriteDiskAt(FileHandle disk, std::int64_t offset, const void* buffer, std::uint32_t length)
{
    std::uint32_t done = 0;
    return CurrentHost().WriteAt(disk, offset, buffer, length, &done) && done == length;
}
