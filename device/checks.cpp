// What an update set is checked against before any transfer: the files' digests and the room on
// the calculators' disks.
#include "device/discovery.h"
#include "device/engine_state.h"
#include "device/host.h"
#include "device/sha256.h"
#include "device/transfer.h"

#include <exception>
#include <vector>

namespace {

int DigestOpenFile(FileHandle source, unsigned char* buffer, SourceDigest* digest,
                   const std::atomic<bool>* stop)
{
    Host& host = CurrentHost();
    const std::int64_t size = host.Size(source);
    if (size < 0)
        return kResultSourceRead;
    std::vector<ChunkSum> chunks;
    try {
        chunks.resize(static_cast<std::size_t>(ChunkCount(size)));
    } catch (const std::exception&) { // too many chunks to hold their sums
        return kResultNoMemory;
    }
    Sha256 context;
    Sha256Init(&context);
    std::size_t chunk = 0;
    for (std::int64_t remaining = size; remaining > 0; ++chunk) {
        if (stop != nullptr && stop->load())
            return kResultStopped;
        const std::uint32_t wanted =
            remaining < kChunkSize ? static_cast<std::uint32_t>(remaining) : kChunkSize;
        std::uint32_t got = 0;
        if (!host.Read(source, buffer, wanted, &got) || got != wanted)
            return kResultSourceRead;
        Sha256Update(&context, buffer, got);
        Sha256Of(buffer, got, chunks[chunk].sha256);
        remaining -= got;
    }
    digest->size = size;
    Sha256Final(&context, digest->sha256);
    digest->chunks.swap(chunks);
    return kResultOk;
}

} // namespace

int DigestSourceFile(const WChar* path, SourceDigest* digest, const std::atomic<bool>* stop)
{
    std::lock_guard<std::mutex> lock(g_engineLock);
    Host& host = CurrentHost();
    auto* buffer = static_cast<unsigned char*>(host.AllocIoBuffer(kChunkSize));
    if (buffer == nullptr)
        return kResultNoMemory;
    const FileHandle source = path != nullptr ? host.OpenSourceFile(path) : kInvalidHandle;
    int result = kResultSourceOpen;
    if (source != kInvalidHandle) {
        SourceDigest taken;
        result = DigestOpenFile(source, buffer, &taken, stop);
        if (result == kResultOk && digest != nullptr)
            *digest = taken;
        host.Close(source);
    }
    host.FreeIoBuffer(buffer);
    return result;
}

int GetCalculatorDiskSizes(const WChar* vendorId, const WChar* productId, std::int64_t* sizes,
                           int capacity)
{
    std::lock_guard<std::mutex> lock(g_engineLock);
    if (sizes == nullptr || capacity <= 0)
        return 0;
    // Its own table: the transfer's disk count and handles stay as they are.
    static WChar paths[kMaxDisks][kDiskPathChars];
    const int limit = capacity < kMaxDisks ? capacity : kMaxDisks;
    const int found = FindCalculatorDisks(paths, vendorId, productId, limit);
    Host& host = CurrentHost();
    for (int i = 0; i < found; ++i) {
        const FileHandle disk = host.OpenDisk(paths[i]);
        sizes[i] = disk != kInvalidHandle ? host.Size(disk) : -1;
        if (disk != kInvalidHandle)
            host.Close(disk);
    }
    return found;
}
