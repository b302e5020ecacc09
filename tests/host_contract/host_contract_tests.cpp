// The host contract as one list of cases, the same for every host: bad handles and arguments,
// positions, short and all-or-nothing transfers, and the reasons of failures.
#include "host_contract_tests.h"

#include "device/block_io.h"
#include "device/engine.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::uint32_t kUntouched = 77; // what *done holds before a call

struct Context {
    HostContractFactory& factory;
    Host& host;
    int failures = 0;
    std::string skipped; // why the case could not run here
    std::string partly;  // why a part of it could not run here
};

#define CHECK(condition)                                                                           \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::printf("    FAIL %s:%d: %s\n", __FILE__, __LINE__, #condition);                   \
            ++ctx.failures;                                                                        \
        }                                                                                          \
    } while (false)

std::vector<unsigned char> Bytes(std::size_t size, unsigned seed)
{
    std::vector<unsigned char> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(i * 13 + seed * 71 + i / 251);
    return bytes;
}

// The disk, opened; kInvalidHandle when this host has none here, and then the case (or its
// part on a disk) is skipped.
FileHandle OpenTheDisk(Context& ctx, ContractDisk* disk, bool wholeCase = true)
{
    *disk = ctx.factory.Disk();
    if (disk->path.empty()) {
        (wholeCase ? ctx.skipped : ctx.partly) = disk->why;
        return kInvalidHandle;
    }
    const FileHandle handle = ctx.host.OpenDisk(disk->path.c_str());
    CHECK(handle != kInvalidHandle);
    return handle;
}

// Every call refuses `bad` without touching memory or the system.
void CheckRefused(Context& ctx, FileHandle bad)
{
    Host& host = ctx.host;
    unsigned char buffer[16] = {};
    std::uint32_t done = kUntouched;
    CHECK(host.Seek(bad, 0, SeekFrom::Start) == -1);
    CHECK(host.Seek(bad, 0, SeekFrom::Current) == -1);
    CHECK(!host.Read(bad, buffer, sizeof buffer, &done) && done == 0);
    done = kUntouched;
    CHECK(!host.Write(bad, buffer, sizeof buffer, &done) && done == 0);
    done = kUntouched;
    CHECK(!host.ReadAt(bad, 0, buffer, sizeof buffer, &done) && done == 0);
    done = kUntouched;
    CHECK(!host.WriteAt(bad, 0, buffer, sizeof buffer, &done) && done == 0);
    CHECK(host.Size(bad) == -1);
    CHECK(!host.Flush(bad));
    CHECK(host.LastError(bad).kind == HostFailure::BadArgument);
    host.Close(bad); // nothing happens, however often
    host.Close(bad);
}

void BadHandlesAreRefused(Context& ctx)
{
    const String16 path = ctx.factory.MakeSourceFile(Bytes(100, 1));
    const FileHandle closed = ctx.host.OpenSourceFile(path.c_str());
    CHECK(closed != kInvalidHandle);
    ctx.host.Close(closed);
    for (FileHandle bad :
         {kInvalidHandle, FileHandle{0}, FileHandle{0x7fff1234}, closed, FileHandle{-2}})
        CheckRefused(ctx, bad);
}

void ClosedDiskHandleIsRefused(Context& ctx)
{
    ContractDisk disk;
    const FileHandle handle = OpenTheDisk(ctx, &disk);
    if (handle == kInvalidHandle)
        return;
    ctx.host.Close(handle);
    CheckRefused(ctx, handle);
}

// A handle's value is not given out again: a stale handle must not read another file.
void StaleHandleNeverReachesANewerFile(Context& ctx)
{
    Host& host = ctx.host;
    const FileHandle stale = host.OpenSourceFile(ctx.factory.MakeSourceFile(Bytes(64, 2)).c_str());
    CHECK(stale != kInvalidHandle);
    host.Close(stale);
    const String16 newer = ctx.factory.MakeSourceFile(Bytes(64, 3));
    std::vector<FileHandle> open;
    for (int i = 0; i < 8; ++i)
        open.push_back(host.OpenSourceFile(newer.c_str()));
    unsigned char buffer[64];
    std::uint32_t done = kUntouched;
    CHECK(!host.Read(stale, buffer, sizeof buffer, &done) && done == 0);
    CHECK(host.Size(stale) == -1);
    host.Close(stale);
    for (FileHandle file : open) {
        CHECK(file != kInvalidHandle && file != stale);
        CHECK(host.Size(file) == 64); // the stale close above closed none of them
        host.Close(file);
    }
}

void OpensRefuseWhatTheyCannotOpen(Context& ctx)
{
    Host& host = ctx.host;
    const String16 empty;
    const String16 missing = ctx.factory.MissingFile();
    CHECK(host.OpenSourceFile(nullptr) == kInvalidHandle);
    CHECK(host.OpenSourceFile(empty.c_str()) == kInvalidHandle);
    CHECK(host.OpenSourceFile(missing.c_str()) == kInvalidHandle);
    CHECK(host.OpenError().kind == HostFailure::Gone);
    CHECK(host.OpenDisk(nullptr) == kInvalidHandle);
    CHECK(host.OpenError().kind == HostFailure::BadArgument);
    // Raw I/O only on a disk the enumeration listed, never on any path given.
    const String16 file = ctx.factory.MakeSourceFile(Bytes(512, 4));
    CHECK(host.OpenDisk(file.c_str()) == kInvalidHandle);
    CHECK(host.OpenError().kind == HostFailure::NotListed);
}

void SourceReadsAreShortOnlyAtTheEnd(Context& ctx)
{
    Host& host = ctx.host;
    const std::vector<unsigned char> data = Bytes(10000, 5);
    const FileHandle file = host.OpenSourceFile(ctx.factory.MakeSourceFile(data).c_str());
    CHECK(file != kInvalidHandle);
    CHECK(host.LastError(file).kind == HostFailure::None);
    CHECK(host.Size(file) == 10000);
    std::vector<unsigned char> buffer(4096);
    std::uint32_t done = kUntouched;
    CHECK(host.Read(file, buffer.data(), 4096, &done) && done == 4096);
    CHECK(std::memcmp(buffer.data(), data.data(), 4096) == 0);
    CHECK(host.Seek(file, 0, SeekFrom::Current) == 4096);
    CHECK(host.Seek(file, 9000, SeekFrom::Start) == 9000);
    CHECK(host.Read(file, buffer.data(), 4096, &done) && done == 1000);
    CHECK(std::memcmp(buffer.data(), data.data() + 9000, 1000) == 0);
    CHECK(host.Read(file, buffer.data(), 4096, &done) && done == 0);
    CHECK(host.Seek(file, 20000, SeekFrom::Start) == 20000);
    CHECK(host.Read(file, buffer.data(), 4096, &done) && done == 0);
    CHECK(host.Seek(file, 0, SeekFrom::Current) == 20000);
    host.Close(file);
}

// A seek out of range fails and leaves the position where it was.
void CheckSeeksOutOfRange(Context& ctx, FileHandle file)
{
    Host& host = ctx.host;
    CHECK(host.Seek(file, 100, SeekFrom::Start) == 100);
    CHECK(host.Seek(file, -1, SeekFrom::Start) == -1);
    CHECK(host.Seek(file, -101, SeekFrom::Current) == -1);
    CHECK(host.Seek(file, kMax, SeekFrom::Current) == -1);
    CHECK(host.Seek(file, std::numeric_limits<std::int64_t>::min(), SeekFrom::Current) == -1);
    CHECK(host.Seek(file, 0, SeekFrom::Current) == 100);
    CHECK(host.Seek(file, -100, SeekFrom::Current) == 0);
}

void SeeksOutOfRangeKeepThePosition(Context& ctx)
{
    const FileHandle file =
        ctx.host.OpenSourceFile(ctx.factory.MakeSourceFile(Bytes(1000, 6)).c_str());
    CHECK(file != kInvalidHandle);
    CheckSeeksOutOfRange(ctx, file);
    ctx.host.Close(file);
    ContractDisk disk;
    const FileHandle handle = OpenTheDisk(ctx, &disk, false);
    if (handle == kInvalidHandle)
        return;
    CheckSeeksOutOfRange(ctx, handle);
    ctx.host.Close(handle);
}

// Null `done`, null buffers and empty requests, on `file`: its position stays at `at`.
void CheckNullArguments(Context& ctx, FileHandle file, bool writable)
{
    Host& host = ctx.host;
    unsigned char buffer[16] = {};
    std::uint32_t done = kUntouched;
    const std::int64_t at = host.Seek(file, 0, SeekFrom::Current);
    CHECK(!host.Read(file, buffer, sizeof buffer, nullptr));
    CHECK(!host.Read(file, nullptr, 16, &done) && done == 0);
    done = kUntouched;
    CHECK(host.Read(file, nullptr, 0, &done) && done == 0);
    if (writable) {
        CHECK(!host.Write(file, buffer, sizeof buffer, nullptr));
        done = kUntouched;
        CHECK(!host.Write(file, nullptr, 16, &done) && done == 0);
        done = kUntouched;
        CHECK(host.Write(file, nullptr, 0, &done) && done == 0);
    }
    CHECK(host.Seek(file, 0, SeekFrom::Current) == at);
}

void NullAndEmptyArguments(Context& ctx)
{
    const FileHandle file =
        ctx.host.OpenSourceFile(ctx.factory.MakeSourceFile(Bytes(1000, 7)).c_str());
    CHECK(file != kInvalidHandle);
    CheckNullArguments(ctx, file, false);
    ctx.host.Close(file);
    ContractDisk disk;
    const FileHandle handle = OpenTheDisk(ctx, &disk, false);
    if (handle == kInvalidHandle)
        return;
    CHECK(ctx.host.Seek(handle, 4096, SeekFrom::Start) == 4096);
    const std::vector<unsigned char> before(16, 0);
    std::vector<unsigned char> was(16);
    std::uint32_t done = 0;
    CHECK(ctx.host.Read(handle, was.data(), 16, &done) && done == 16);
    CHECK(ctx.host.Seek(handle, 4096, SeekFrom::Start) == 4096);
    CheckNullArguments(ctx, handle, true);
    std::vector<unsigned char> now(16);
    CHECK(ctx.host.Read(handle, now.data(), 16, &done) && done == 16);
    CHECK(now == was); // the refused writes wrote nothing
    ctx.host.Close(handle);
}

void SourceFilesAreReadOnly(Context& ctx)
{
    Host& host = ctx.host;
    const FileHandle file = host.OpenSourceFile(ctx.factory.MakeSourceFile(Bytes(100, 8)).c_str());
    CHECK(file != kInvalidHandle);
    unsigned char buffer[16] = {};
    std::uint32_t done = kUntouched;
    CHECK(!host.Write(file, buffer, sizeof buffer, &done) && done == 0);
    CHECK(host.Flush(file)); // nothing was written, so nothing is left to flush
    CHECK(host.Size(file) == 100);
    host.Close(file);
}

void HandlesKeepTheirOwnPositions(Context& ctx)
{
    Host& host = ctx.host;
    const std::vector<unsigned char> data = Bytes(6000, 9);
    const String16 path = ctx.factory.MakeSourceFile(data);
    const FileHandle first = host.OpenSourceFile(path.c_str());
    const FileHandle second = host.OpenSourceFile(path.c_str());
    CHECK(first != kInvalidHandle && second != kInvalidHandle && first != second);
    CHECK(host.Seek(first, 5000, SeekFrom::Start) == 5000);
    unsigned char buffer[100];
    std::uint32_t done = 0;
    CHECK(host.Read(second, buffer, sizeof buffer, &done) && done == 100);
    CHECK(std::memcmp(buffer, data.data(), 100) == 0);
    CHECK(host.Read(first, buffer, sizeof buffer, &done) && done == 100);
    CHECK(std::memcmp(buffer, data.data() + 5000, 100) == 0);
    host.Close(first);
    host.Close(second);
}

// Reads `length` bytes at `offset` through the host; empty when that fails.
std::vector<unsigned char> ReadAt(Host& host, FileHandle disk, std::int64_t offset,
                                  std::uint32_t length)
{
    std::vector<unsigned char> bytes(length);
    std::uint32_t done = 0;
    if (host.Seek(disk, offset, SeekFrom::Start) != offset ||
        !host.Read(disk, bytes.data(), length, &done) || done != length)
        bytes.clear();
    return bytes;
}

void DiskRequestsAreAllOrNothing(Context& ctx)
{
    Host& host = ctx.host;
    ContractDisk disk;
    const FileHandle handle = OpenTheDisk(ctx, &disk);
    if (handle == kInvalidHandle)
        return;
    CHECK(host.Size(handle) == disk.size);
    CHECK(host.LastError(handle).kind == HostFailure::None);

    // Unaligned: the bytes around the request stay as they were.
    const std::vector<unsigned char> around = ReadAt(host, handle, 4088, 24);
    CHECK(around.size() == 24);
    const std::vector<unsigned char> data = Bytes(5, 10);
    std::uint32_t done = kUntouched;
    CHECK(host.Seek(handle, 4095, SeekFrom::Start) == 4095);
    CHECK(host.Write(handle, data.data(), 5, &done) && done == 5);
    CHECK(host.Seek(handle, 0, SeekFrom::Current) == 4100);
    std::vector<unsigned char> expected = around;
    if (expected.size() == 24) // a failed read above leaves nothing to compare with
        std::memcpy(expected.data() + 7, data.data(), 5);
    CHECK(ReadAt(host, handle, 4088, 24) == expected);

    if (disk.size < 0) {
        ctx.partly = "the system tells no disk size here: nothing at the disk's end is checked";
        CHECK(host.Flush(handle));
        host.Close(handle);
        return;
    }
    // Across the end: refused whole, the last bytes unchanged, the position kept.
    const std::int64_t nearEnd = disk.size - 2;
    const std::vector<unsigned char> tail = ReadAt(host, handle, nearEnd, 2);
    CHECK(tail.size() == 2);
    CHECK(host.Seek(handle, nearEnd, SeekFrom::Start) == nearEnd);
    done = kUntouched;
    CHECK(!host.Write(handle, data.data(), 4, &done) && done == 0);
    CHECK(host.LastError(handle).kind != HostFailure::None);
    CHECK(host.Seek(handle, 0, SeekFrom::Current) == nearEnd);
    unsigned char buffer[4];
    done = kUntouched;
    CHECK(!host.Read(handle, buffer, 4, &done) && done == 0);
    CHECK(host.Seek(handle, 0, SeekFrom::Current) == nearEnd);
    CHECK(ReadAt(host, handle, nearEnd, 2) == tail);
    // Aligned too: the sector before the end is not written by itself.
    const std::vector<unsigned char> last = ReadAt(host, handle, disk.size - 4096, 4096);
    void* sectors = host.AllocIoBuffer(8192);
    CHECK(sectors != nullptr && last.size() == 4096);
    if (sectors != nullptr) {
        std::memset(sectors, 0xC3, 8192);
        done = kUntouched;
        CHECK(host.Seek(handle, disk.size - 4096, SeekFrom::Start) == disk.size - 4096);
        CHECK(!host.Write(handle, sectors, 8192, &done) && done == 0);
        host.FreeIoBuffer(sectors);
    }
    CHECK(ReadAt(host, handle, disk.size - 4096, 4096) == last);
    // At the very end an empty request still succeeds; past it a read fails.
    CHECK(host.Seek(handle, disk.size, SeekFrom::Start) == disk.size);
    CHECK(host.Write(handle, data.data(), 0, &done) && done == 0);
    CHECK(host.Seek(handle, disk.size + 4096, SeekFrom::Start) == disk.size + 4096);
    CHECK(!host.Read(handle, buffer, 1, &done) && done == 0);
    CHECK(host.Flush(handle));
    host.Close(handle);
}

// ReadAt and WriteAt move at their offset and leave the position where it was.
void CheckPositioned(Context& ctx, FileHandle file, std::int64_t end, bool writable)
{
    Host& host = ctx.host;
    const std::vector<unsigned char> data = Bytes(512, 11);
    std::vector<unsigned char> buffer(512);
    std::uint32_t done = kUntouched;
    CHECK(host.Seek(file, 100, SeekFrom::Start) == 100);
    if (writable) {
        CHECK(host.WriteAt(file, 8192, data.data(), 512, &done) && done == 512);
        done = kUntouched;
        // Across the end, where the size is known.
        CHECK(end < 0 || (!host.WriteAt(file, end - 256, data.data(), 512, &done) && done == 0));
        CHECK(!host.WriteAt(file, -512, data.data(), 512, &done));
        CHECK(!host.WriteAt(file, 8192, data.data(), 512, nullptr));
    }
    CHECK(host.ReadAt(file, 8192, buffer.data(), 512, &done) && done == 512);
    CHECK(!writable || buffer == data);
    CHECK(!host.ReadAt(file, -1, buffer.data(), 1, &done) && done == 0);
    CHECK(!host.ReadAt(file, 8192, buffer.data(), 512, nullptr));
    CHECK(host.Seek(file, 0, SeekFrom::Current) == 100);
}

void PositionedRequestsKeepThePosition(Context& ctx)
{
    Host& host = ctx.host;
    const std::vector<unsigned char> data = Bytes(10000, 12);
    const FileHandle file = host.OpenSourceFile(ctx.factory.MakeSourceFile(data).c_str());
    CHECK(file != kInvalidHandle);
    CheckPositioned(ctx, file, 10000, false);
    unsigned char buffer[64];
    std::uint32_t done = kUntouched;
    CHECK(host.ReadAt(file, 9990, buffer, sizeof buffer, &done) && done == 10);
    CHECK(std::memcmp(buffer, data.data() + 9990, 10) == 0);
    CHECK(host.ReadAt(file, 20000, buffer, sizeof buffer, &done) && done == 0);
    CHECK(host.Seek(file, 0, SeekFrom::Current) == 100);
    host.Close(file);
    ContractDisk disk;
    const FileHandle handle = OpenTheDisk(ctx, &disk, false);
    if (handle == kInvalidHandle)
        return;
    CheckPositioned(ctx, handle, disk.size, true);
    host.Close(handle);
}

void EnumerationRefusesBadArguments(Context& ctx)
{
    Host& host = ctx.host;
    WChar path[kDiskPathChars];
    CHECK(host.DiskInterfacePath(nullptr, 0, path, kDiskPathChars) == InterfaceStatus::End);
    host.EndDiskInterfaces(nullptr);
    const ContractDisk disk = ctx.factory.Disk(); // one disk at least, where there is one
    void* list = host.BeginDiskInterfaces();
    if (list == nullptr) {
        ctx.skipped = "the host gives no list of disks here";
        return;
    }
    CHECK(host.DiskInterfacePath(list, -1, path, kDiskPathChars) == InterfaceStatus::End);
    // Past the last member the list ends, whatever else is wrong: a caller's loop stops.
    CHECK(host.DiskInterfacePath(list, 1 << 20, nullptr, 0) == InterfaceStatus::End);
    int listed = -1;
    for (int i = 0; i < 4096 && listed < 0; ++i) {
        const InterfaceStatus status = host.DiskInterfacePath(list, i, path, kDiskPathChars);
        if (status == InterfaceStatus::End)
            break;
        if (status == InterfaceStatus::Ok)
            listed = i;
    }
    if (listed >= 0) {
        path[0] = 0x41;
        CHECK(host.DiskInterfacePath(list, listed, nullptr, kDiskPathChars) ==
              InterfaceStatus::TooLong);
        CHECK(host.DiskInterfacePath(list, listed, path, 0) == InterfaceStatus::TooLong);
        CHECK(host.DiskInterfacePath(list, listed, path, -5) == InterfaceStatus::TooLong);
        CHECK(host.DiskInterfacePath(list, listed, path, 1) == InterfaceStatus::TooLong);
        CHECK(path[0] == 0x41); // nothing copied
    } else {
        ctx.partly = disk.path.empty() ? disk.why : "the host lists no disk";
    }
    host.EndDiskInterfaces(list);
}

void IoBuffersAreAligned(Context& ctx)
{
    Host& host = ctx.host;
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{512}, std::size_t{16384},
                             std::size_t{100000}}) {
        void* buffer = host.AllocIoBuffer(size);
        CHECK(buffer != nullptr);
        CHECK(reinterpret_cast<std::uintptr_t>(buffer) % kIoAlignment == 0);
        if (buffer != nullptr)
            std::memset(buffer, 0x5A, size == 0 ? 1 : size);
        host.FreeIoBuffer(buffer);
    }
    host.FreeIoBuffer(nullptr);
}

std::atomic<int> g_ran{0};
int CountRun(void* arg)
{
    g_ran += 1;
    return *static_cast<int*>(arg);
}

void ThreadsAndSleepsTakeBadArguments(Context& ctx)
{
    Host& host = ctx.host;
    int value = 42;
    CHECK(host.StartThread(nullptr, &value) == 0);
    int codes[2] = {5, 5};
    const ThreadHandle none[1] = {0};
    host.JoinThreads(nullptr, 2, codes);
    host.JoinThreads(none, 0, codes);
    host.JoinThreads(none, -1, codes);
    CHECK(codes[0] == 5 && codes[1] == 5);
    g_ran = 0;
    ThreadHandle thread = host.StartThread(CountRun, &value);
    CHECK(thread != 0);
    if (thread != 0)
        host.JoinThreads(&thread, 1, nullptr); // waited for, its code dropped
    CHECK(g_ran == 1);
    thread = host.StartThread(CountRun, &value);
    const ThreadHandle mixed[2] = {0, thread};
    host.JoinThreads(mixed, 2, codes);
    CHECK(codes[0] == kResultNoMemory && codes[1] == 42);
    host.Sleep(0);
    host.Sleep(-5);
}

void FailedOpenSaysWhy(Context& ctx)
{
    Host& host = ctx.host;
    const ContractDisk disk = ctx.factory.Disk();
    if (disk.path.empty()) {
        ctx.skipped = disk.why;
        return;
    }
    if (!ctx.factory.HoldDisk(true)) {
        ctx.skipped = "no other program can hold the disk here";
        return;
    }
    const FileHandle refused = host.OpenDisk(disk.path.c_str());
    const HostError why = host.OpenError();
    ctx.factory.HoldDisk(false);
    host.Close(refused);
    CHECK(refused == kInvalidHandle);
    CHECK(why.kind == HostFailure::Busy);
    char text[160];
    FormatHostError(why, text, sizeof text);
    CHECK(std::strstr(text, "busy") != nullptr);
    const FileHandle handle = host.OpenDisk(disk.path.c_str());
    CHECK(handle != kInvalidHandle);
    host.Close(handle);
}

struct Case {
    const char* name;
    void (*run)(Context&);
};

const Case kCases[] = {
    {"bad handles are refused by every call", BadHandlesAreRefused},
    {"a closed disk handle is refused", ClosedDiskHandleIsRefused},
    {"a stale handle never reaches a newer file", StaleHandleNeverReachesANewerFile},
    {"opens refuse what they cannot open, and say why", OpensRefuseWhatTheyCannotOpen},
    {"source reads are short only at the end", SourceReadsAreShortOnlyAtTheEnd},
    {"seeks out of range keep the position", SeeksOutOfRangeKeepThePosition},
    {"null and empty arguments", NullAndEmptyArguments},
    {"source files are read only", SourceFilesAreReadOnly},
    {"handles keep their own positions", HandlesKeepTheirOwnPositions},
    {"disk requests are all or nothing", DiskRequestsAreAllOrNothing},
    {"positioned requests keep the position", PositionedRequestsKeepThePosition},
    {"enumeration refuses bad arguments", EnumerationRefusesBadArguments},
    {"I/O buffers are aligned", IoBuffersAreAligned},
    {"threads and sleeps take bad arguments", ThreadsAndSleepsTakeBadArguments},
    {"a disk held by another program fails as busy", FailedOpenSaysWhy},
};

} // namespace

int RunHostContract(HostContractFactory& factory, const std::string& only)
{
    int passed = 0;
    int failed = 0;
    int skipped = 0;
    std::printf("host contract on the %s host\n", factory.Name());
    for (const Case& c : kCases) {
        if (!only.empty() && std::string(c.name).find(only) == std::string::npos)
            continue;
        std::printf("%s\n", c.name);
        std::fflush(stdout);
        Context ctx{factory, factory.TheHost(), 0, std::string(), std::string()};
        c.run(ctx);
        if (ctx.failures != 0) {
            ++failed;
            std::printf("  FAILED\n");
        } else if (!ctx.skipped.empty()) {
            ++skipped;
            std::printf("  skipped: %s\n", ctx.skipped.c_str());
        } else {
            ++passed;
            if (ctx.partly.empty())
                std::printf("  ok\n");
            else
                std::printf("  ok, its part on a disk skipped: %s\n", ctx.partly.c_str());
        }
        std::fflush(stdout);
    }
    std::printf("%d passed, %d failed, %d skipped\n", passed, failed, skipped);
    return failed;
}
