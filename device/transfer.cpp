// The transfer and the read-back: one file written onto every calculator disk, a thread per
// disk, with its progress commands, and read back from every disk to compare it with the file.
#include "device/transfer.h"

#include "device/block_io.h"
#include "device/discovery.h"
#include "device/engine_state.h"
#include "device/host.h"
#include "device/mailbox.h"
#include "device/sha256.h"
#include "device/text16.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// What the latest run did to each disk, for GetTransferResults; under g_engineLock.
DiskResult g_runResults[kMaxDisks];
int g_runResultCount = 0;

// The disk of the transfer thread that runs on this thread, for the callbacks it calls.
thread_local int t_transferDisk = -1;
thread_local const WChar* t_transferPath = nullptr;

// Every disk of the table with its path, its serial and node, and this result.
void RecordRun(const int* results, int sameResult)
{
    g_runResultCount = g_diskCount;
    for (int i = 0; i < g_diskCount; ++i) {
        DiskResult& entry = g_runResults[i];
        DescribeDisk(g_diskPaths[i], &entry);
        entry.size = -1;
        entry.result = results != nullptr ? results[i] : sameResult;
    }
}

// Size of the file, or -1 when it cannot be opened: GetSourceSize gives 0 for both an empty
// file and one that does not open, and only the second must fail as unopened.
std::int64_t KnownSourceSize(const WChar* path)
{
    Host& host = CurrentHost();
    const FileHandle file = host.OpenSourceFile(path);
    if (file == kInvalidHandle)
        return -1;
    host.Close(file);
    return GetSourceSize(path);
}

void ReportProgress(FileHandle disk, std::uint32_t percent)
{
    SendProgress(disk, percent); // a calculator that refuses progress still takes the data
    if (g_progressCallback != nullptr)
        g_progressCallback(static_cast<int>(percent));
}

// Up to 7 attempts, each from a fresh seek to position.
bool WriteChunk(FileHandle disk, std::int64_t position, const void* data, std::uint32_t length)
{
    for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
        if (WriteDiskFrom(disk, position, data, length))
            return true;
    }
    return false;
}

std::uint32_t ChunkLength(const TransferTask& task, std::int64_t chunk)
{
    const std::int64_t left = task.byteCount - chunk * kChunkSize;
    return left < kChunkSize ? static_cast<std::uint32_t>(left) : kChunkSize;
}

// Reads the source's next chunk into buffer and, for a checked transfer, compares it with the
// chunk's sum taken at the check: 0, or 109 when it cannot be read whole or differs (a changed
// chunk is never written).
int ReadChunk(const TransferTask& task, FileHandle source, std::int64_t chunk,
              unsigned char* buffer)
{
    const std::uint32_t length = ChunkLength(task, chunk);
    std::uint32_t got = 0;
    // A source that ends before its size was reached would leave a partial image.
    if (!CurrentHost().Read(source, buffer, length, &got) || got != length)
        return kResultSourceRead;
    if (task.expected != nullptr) {
        unsigned char sum[32];
        Sha256Of(buffer, length, sum);
        if (std::memcmp(sum, task.expected->chunks[static_cast<std::size_t>(chunk)].sha256,
                        sizeof sum) != 0)
            return kResultSourceRead;
    }
    return kResultOk;
}

// The source read and checked ahead of the disk by a thread of its own, so that the read and
// the digest of the chunks take place while the one before is being written instead of between
// two writes. The chunks go round a ring of slots: the writer's chunk, and those read ahead of
// it. Each side wakes the other only when it has to: the reader once half the ring is free, the
// writer when it waits for a chunk, so that a chunk costs the writer no wake-up of its own.
// Without that thread (it did not start, or there is no memory for the ring) the writer reads
// each chunk itself.
class ReadAhead {
public:
    static constexpr int kSlots = 8;

    ReadAhead(const TransferTask& task, FileHandle source, unsigned char* buffer)
        : task_(task), source_(source), buffer_(buffer), chunks_(ChunkCount(task.byteCount))
    {
        if (chunks_ < 2)
            return; // nothing to overlap
        if (task.started != nullptr) {
            std::unique_lock<std::mutex> guard(task.started->lock);
            task.started->opened.wait(guard, [&] { return task.started->open; });
        }
        Host& host = CurrentHost();
        ring_ = static_cast<unsigned char*>(host.AllocIoBuffer(std::size_t{kSlots} * kChunkSize));
        if (ring_ != nullptr)
            reader_ = host.StartThread(&ReadAhead::Run, this);
    }

    ~ReadAhead()
    {
        Host& host = CurrentHost();
        if (reader_ != 0) {
            {
                std::lock_guard<std::mutex> guard(lock_);
                stop_ = true;
            }
            readerWake_.notify_one();
            host.JoinThreads(&reader_, 1, nullptr);
        }
        if (ring_ != nullptr)
            host.FreeIoBuffer(ring_);
    }

    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The chunk, read and checked, in *data; 0 or the chunk's failure.
    int Take(std::int64_t chunk, unsigned char** data)
    {
        if (reader_ == 0) {
            *data = buffer_;
            return ReadChunk(task_, source_, chunk, buffer_);
        }
        std::unique_lock<std::mutex> guard(lock_);
        if (ready_ <= chunk && failure_ == kResultOk) {
            if (readerWaiting_)
                readerWake_.notify_one();
            writerWaiting_ = true;
            writerWake_.wait(guard, [&] { return ready_ > chunk || failure_ != kResultOk; });
            writerWaiting_ = false;
        }
        if (ready_ <= chunk)
            return failure_;
        taken_ = chunk + 1; // the slot of the chunk before is free again
        if (readerWaiting_ && Free() >= kSlots / 2)
            readerWake_.notify_one();
        *data = Slot(chunk);
        return kResultOk;
    }

private:
    // Slots the reader may fill now: all but the writer's chunk and those read ahead of it.
    std::int64_t Free() const { return taken_ + kSlots - 1 - ready_; }
    unsigned char* Slot(std::int64_t chunk) const
    {
        return ring_ + static_cast<std::size_t>(chunk % kSlots) * kChunkSize;
    }

    static int Run(void* arg)
    {
        auto& self = *static_cast<ReadAhead*>(arg);
        std::unique_lock<std::mutex> guard(self.lock_);
        for (std::int64_t chunk = 0; chunk < self.chunks_ && !self.stop_; ++chunk) {
            if (self.Free() <= 0) {
                self.readerWaiting_ = true;
                self.readerWake_.wait(guard, [&] { return self.stop_ || self.Free() > 0; });
                self.readerWaiting_ = false;
                if (self.stop_)
                    break;
            }
            guard.unlock();
            const int result = ReadChunk(self.task_, self.source_, chunk, self.Slot(chunk));
            guard.lock();
            if (result == kResultOk)
                self.ready_ = chunk + 1;
            else
                self.failure_ = result;
            if (self.writerWaiting_)
                self.writerWake_.notify_one();
            if (result != kResultOk)
                break;
        }
        return 0;
    }

    const TransferTask& task_;
    const FileHandle source_;
    unsigned char* const buffer_; // the writer's own, for reading without the thread
    const std::int64_t chunks_;
    unsigned char* ring_ = nullptr;
    ThreadHandle reader_ = 0;
    std::mutex lock_;
    std::condition_variable readerWake_, writerWake_;
    std::int64_t ready_ = 0;  // chunks read and checked
    std::int64_t taken_ = 0;  // chunks the writer has taken
    int failure_ = kResultOk; // why chunk ready_ could not be had; the reader stopped there
    bool readerWaiting_ = false, writerWaiting_ = false, stop_ = false;
};

// The data phase: gives 0, 109 or 112.
int CopyChunks(const TransferTask& task, FileHandle source, unsigned char* buffer)
{
    ReadAhead ahead(task, source, buffer);
    const std::int64_t chunks = ChunkCount(task.byteCount);
    std::int64_t written = 0;
    std::uint32_t lastPercent = 0;
    for (std::int64_t chunk = 0; chunk < chunks; ++chunk) {
        const std::uint32_t length = ChunkLength(task, chunk);
        unsigned char* data = nullptr;
        const int read = ahead.Take(chunk, &data);
        if (read != kResultOk)
            return read;
        if (!WriteChunk(task.disk, task.diskOffset + written, data, length)) {
            LogDiskFailure(DiskPathOf(task.disk), "a write failed 7 times (112)",
                           CurrentHost().LastError(task.disk));
            return kResultWriteFailed;
        }
        written += length;
        if (chunk + 1 == chunks)
            break; // the last chunk's 100 follows the flush
        std::uint32_t percent = static_cast<std::uint32_t>(static_cast<double>(written) * 100.0 /
                                                           static_cast<double>(task.byteCount));
        if (percent > lastPercent) {
            percent = percent > 99 ? 99 : percent;
            lastPercent = percent;
            ReportProgress(task.disk, percent);
        }
    }
    // Every chunk matched its sum; a file that has grown since is not the one checked either.
    if (task.expected != nullptr && CurrentHost().Size(source) != task.expected->size)
        return kResultSourceRead;
    return kResultOk;
}

// A disk whose size cannot be read is not held back: the writes themselves still fail at its end.
bool FitsDisk(const TransferTask& task)
{
    const std::int64_t size = CurrentHost().Size(task.disk);
    return size < 0 || task.byteCount <= size - task.diskOffset;
}

int TransferWithSource(const TransferTask& task, FileHandle source, unsigned char* buffer)
{
    Host& host = CurrentHost();
    if (task.byteCount < 0)
        return kResultSourceOpen; // as if it had not opened: its size was never known
    WChar text[kDisplayTextChars];
    Copy16(text, kDisplayTextChars, task.displayText);
    if (g_messageCallback != nullptr)
        g_messageCallback(text);
    if (task.disk == kInvalidHandle)
        return kResultDiskNotOpen;
    if (!FitsDisk(task))
        return kResultOutsideDisk;

    host.Sleep(kTransferPauseMs);
    ReadMailboxArea(task.disk, false);
    SeekDisk(task.disk, task.diskOffset, SeekFrom::Start);
    SendProgress(task.disk, 0);
    host.Sleep(kTransferPauseMs);
    if (g_progressCallback != nullptr)
        g_progressCallback(0);

    const int result = CopyChunks(task, source, buffer);
    host.Flush(task.disk);
    host.Sleep(kTransferPauseMs);
    if (result == kResultOk) {
        ReportProgress(task.disk, 100);
        ReadMailboxArea(task.disk, true);
        host.Sleep(kTransferPauseMs);
    }
    return result;
}

struct VerifyTask {
    FileHandle disk;
    std::int64_t diskOffset;
    const WChar* sourcePath;
    const SourceDigest* expected;
};

// Equal, apart from the bytes of the mailbox sector that the stretch at position holds.
bool SameData(std::int64_t position, const unsigned char* a, const unsigned char* b,
              std::uint32_t length)
{
    for (std::uint32_t i = 0; i < length; ++i) {
        const std::int64_t at = position + i;
        if (a[i] != b[i] && (at < kMailboxOffset || at >= kMailboxOffset + kMailboxSectorSize))
            return false;
    }
    return true;
}

int CompareChunks(const VerifyTask& task, FileHandle source, unsigned char* fromDisk,
                  unsigned char* fromFile)
{
    Host& host = CurrentHost();
    Sha256 digest;
    Sha256Init(&digest);
    std::int64_t remaining = task.expected->size;
    std::int64_t position = task.diskOffset;
    bool differs = false;
    // The file is read to its end even past a difference: a file changed since it was written
    // is the fault to report then, not the disk.
    while (remaining > 0) {
        const std::uint32_t n =
            remaining < kChunkSize ? static_cast<std::uint32_t>(remaining) : kChunkSize;
        std::uint32_t got = 0;
        if (!host.Read(source, fromFile, n, &got) || got != n)
            return kResultSourceRead;
        Sha256Update(&digest, fromFile, n);
        differs = differs || !ReadDiskFrom(task.disk, position, fromDisk, n) ||
                  !SameData(position, fromDisk, fromFile, n);
        position += n;
        remaining -= n;
    }
    unsigned char sum[32];
    Sha256Final(&digest, sum);
    if (host.Size(source) != task.expected->size ||
        std::memcmp(sum, task.expected->sha256, sizeof sum) != 0)
        return kResultSourceRead;
    return differs ? kResultVerifyFailed : kResultOk;
}

int VerifyThread(void* arg)
{
    const VerifyTask& task = *static_cast<const VerifyTask*>(arg);
    if (task.disk == kInvalidHandle)
        return kResultDiskNotOpen;
    Host& host = CurrentHost();
    auto* fromDisk = static_cast<unsigned char*>(host.AllocIoBuffer(kChunkSize));
    auto* fromFile = new (std::nothrow) unsigned char[kChunkSize];
    int result = kResultNoMemory;
    if (fromDisk != nullptr && fromFile != nullptr) {
        const FileHandle source = host.OpenSourceFile(task.sourcePath);
        result = source == kInvalidHandle ? kResultSourceOpen
                                          : CompareChunks(task, source, fromDisk, fromFile);
        if (source != kInvalidHandle)
            host.Close(source);
    }
    delete[] fromFile;
    if (fromDisk != nullptr)
        host.FreeIoBuffer(fromDisk);
    return result;
}

} // namespace

std::int64_t GetSourceSize(const WChar* path)
{
    Host& host = CurrentHost();
    const FileHandle file = host.OpenSourceFile(path);
    if (file == kInvalidHandle)
        return 0;
    const std::int64_t size = host.Size(file);
    host.Close(file);
    return size;
}

int TransferThread(void* arg)
{
    const TransferTask& task = *static_cast<const TransferTask*>(arg);
    t_transferDisk = task.index;
    t_transferPath = g_diskPaths[task.index]; // the table stays as it is until the run ends
    Host& host = CurrentHost();
    auto* buffer = static_cast<unsigned char*>(host.AllocIoBuffer(kChunkSize));
    if (buffer == nullptr)
        return kResultNoMemory;
    const FileHandle source = host.OpenSourceFile(task.sourcePath);
    if (source == kInvalidHandle) {
        host.FreeIoBuffer(buffer);
        return kResultSourceOpen;
    }
    const int result = TransferWithSource(task, source, buffer);
    host.Close(source);
    host.FreeIoBuffer(buffer);
    return result;
}

// Runs `proc` on a thread of its own for each of `count` tasks and gives each task's exit code.
// A task whose thread did not start, or whose code the host could not read, did not get its
// work done: that must not read as success.
template <typename Task>
void RunDiskThreads(ThreadProc proc, Task* tasks, int count, int* results,
                    StartGate* gate = nullptr)
{
    Host& host = CurrentHost();
    ThreadHandle threads[kMaxDisks];
    int threadTask[kMaxDisks];
    int exitCodes[kMaxDisks];
    int started = 0;
    for (int i = 0; i < count; ++i) {
        results[i] = kResultNoMemory;
        const ThreadHandle thread = host.StartThread(proc, &tasks[i]);
        if (thread != 0) {
            threadTask[started] = i;
            exitCodes[started] = kResultNoMemory;
            threads[started++] = thread;
        }
    }
    if (gate != nullptr) {
        {
            std::lock_guard<std::mutex> guard(gate->lock);
            gate->open = true;
        }
        gate->opened.notify_all();
    }
    if (started > 0)
        host.JoinThreads(threads, started, exitCodes);
    for (int t = 0; t < started; ++t)
        results[threadTask[t]] = exitCodes[t];
}

int RunTransferThreads(const TransferRequest& request, int* diskResults)
{
    StartGate gate;
    TransferTask tasks[kMaxDisks];
    for (int i = 0; i < g_diskCount; ++i) {
        tasks[i] = {i,
                    g_diskHandles[i],
                    request.diskOffset,
                    request.byteCount,
                    request.sourcePath,
                    request.displayText,
                    request.expected,
                    &gate};
    }
    int results[kMaxDisks];
    RunDiskThreads(TransferThread, tasks, g_diskCount, results, &gate);
    if (diskResults != nullptr)
        std::copy(results, results + g_diskCount, diskResults);
    for (int i = 0; i < g_diskCount; ++i) {
        if (results[i] != kResultOk)
            return results[i];
    }
    return kResultOk;
}

int RunCheckedTransfer(const WChar* vendorId, const WChar* productId, const WChar* sourcePath,
                       std::int64_t diskOffset, const SourceDigest* expected,
                       ProgressCallback progress, MessageCallback message,
                       const DiskSelection* only)
{
    std::lock_guard<std::mutex> lock(g_engineLock);
    g_runResultCount = 0;
    // A negative offset would put the file wherever the disk's position happens to be.
    if (diskOffset < 0)
        return kResultOutsideDisk;
    g_diskCount = FindSelectedDisksWithRetry(g_diskPaths, vendorId, productId, only);
    if (g_diskCount == 0)
        return kResultNoDevice;
    // Until the threads say otherwise, no disk got the file.
    RecordRun(nullptr, kResultNoMemory);
    g_progressCallback = progress;
    g_messageCallback = message;

    auto* request = new (std::nothrow) TransferRequest;
    if (request == nullptr)
        return kResultNoMemory;
    // A path that does not fit fails as unopened, never cut (see Copy16).
    if (!Copy16(request->sourcePath, kSourcePathChars, sourcePath)) {
        delete request;
        RecordRun(nullptr, kResultSourceOpen);
        return kResultSourceOpen;
    }
    request->diskOffset = diskOffset;
    request->byteCount = KnownSourceSize(request->sourcePath);
    request->expected = expected;
    Copy16(request->displayText, kSourcePathChars, request->sourcePath);
    // A file that is no longer the one checked is not written at all, nor one whose chunks
    // have no sums to be compared with.
    if (expected != nullptr && request->byteCount >= 0 &&
        (request->byteCount != expected->size ||
         static_cast<std::int64_t>(expected->chunks.size()) != ChunkCount(expected->size))) {
        delete request;
        RecordRun(nullptr, kResultSourceRead);
        return kResultSourceRead;
    }

    OpenCalculatorDisks();
    int diskResults[kMaxDisks];
    const int result = RunTransferThreads(*request, diskResults);
    RecordRun(diskResults, kResultOk);
    CloseCalculatorDisks();
    delete request;
    return result;
}

int RunTransfer(const WChar* vendorId, const WChar* productId, const WChar* sourcePath,
                std::int64_t diskOffset, ProgressCallback progress, MessageCallback message)
{
    return RunCheckedTransfer(vendorId, productId, sourcePath, diskOffset, nullptr, progress,
                              message);
}

int GetTransferResults(DiskResult* results, int capacity)
{
    std::lock_guard<std::mutex> lock(g_engineLock);
    const int count = std::min(g_runResultCount, std::max(capacity, 0));
    std::copy(g_runResults, g_runResults + count, results);
    return g_runResultCount;
}

int CurrentTransferDisk()
{
    return t_transferDisk;
}

const WChar* CurrentTransferDiskPath()
{
    return t_transferPath;
}

int VerifyCalculatorDisks(const WChar* vendorId, const WChar* productId, const WChar* sourcePath,
                          std::int64_t diskOffset, const SourceDigest& expected,
                          DiskResult* results, int capacity, const DiskSelection* only)
{
    std::lock_guard<std::mutex> lock(g_engineLock);
    g_diskCount = FindSelectedDisksWithRetry(g_diskPaths, vendorId, productId, only);
    if (g_diskCount == 0)
        return 0;
    OpenCalculatorDisks();
    VerifyTask tasks[kMaxDisks];
    for (int i = 0; i < g_diskCount; ++i)
        tasks[i] = {g_diskHandles[i], diskOffset, sourcePath, &expected};
    int diskResults[kMaxDisks];
    RunDiskThreads(VerifyThread, tasks, g_diskCount, diskResults);
    for (int i = 0; i < g_diskCount && i < capacity; ++i) {
        DescribeDisk(g_diskPaths[i], &results[i]);
        results[i].size = -1;
        results[i].result = diskResults[i];
    }
    CloseCalculatorDisks();
    return g_diskCount;
}
