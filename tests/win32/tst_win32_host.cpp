// The Windows host as the engine uses it, on the real Win32 API: source files (also past
// 4 GiB), refusal of disks it did not list, threads and their exit codes, aligned buffers, and
// a transfer with no calculator plugged in.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "device/block_io.h"
#include "device/engine.h"
#include "device/host.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int g_failures = 0;

#define CHECK(condition)                                                                           \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::printf("FAIL %s:%d: %s\n", __FILE__, __LINE__, #condition);                       \
            ++g_failures;                                                                          \
        }                                                                                          \
    } while (false)

// A folder of its own under the user's temp folder, removed file by file at the end.
struct TempFolder {
    TempFolder()
    {
        wchar_t base[MAX_PATH];
        ::GetTempPathW(MAX_PATH, base);
        path = std::wstring(base) + L"quillon-win32-" + std::to_wstring(::GetCurrentProcessId());
        ::CreateDirectoryW(path.c_str(), nullptr);
    }
    ~TempFolder()
    {
        for (const std::wstring& file : files)
            ::DeleteFileW(file.c_str());
        ::RemoveDirectoryW(path.c_str());
    }
    std::wstring File(const wchar_t* name)
    {
        files.push_back(path + L"\\" + name);
        return files.back();
    }
    std::wstring path;
    std::vector<std::wstring> files;
};

// Writes bytes at an offset of a new file; the gap before them reads as zeros.
bool WriteFileAt(const std::wstring& path, std::int64_t offset, const void* data, DWORD length)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER at;
    at.QuadPart = offset;
    DWORD written = 0;
    const bool ok = ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
                    ::WriteFile(file, data, length, &written, nullptr) && written == length;
    ::CloseHandle(file);
    return ok;
}

void TestSourceFileReads(TempFolder& temp)
{
    Host& host = NativeHost();
    std::vector<unsigned char> data(10000);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 7 + 3);
    const std::wstring path = temp.File(L"source.dat");
    CHECK(WriteFileAt(path, 0, data.data(), static_cast<DWORD>(data.size())));

    const FileHandle file = host.OpenSourceFile(path.c_str());
    CHECK(file != kInvalidHandle);
    if (file == kInvalidHandle)
        return;
    CHECK(host.Size(file) == 10000);

    std::vector<unsigned char> buffer(4096);
    std::uint32_t done = 0;
    CHECK(host.Read(file, buffer.data(), 4096, &done) && done == 4096);
    CHECK(std::memcmp(buffer.data(), data.data(), 4096) == 0);

    // Only the end of the file gives a short read; past it a read gives nothing, and no error.
    CHECK(host.Seek(file, 9000, SeekFrom::Start) == 9000);
    CHECK(host.Read(file, buffer.data(), 4096, &done) && done == 1000);
    CHECK(std::memcmp(buffer.data(), data.data() + 9000, 1000) == 0);
    CHECK(host.Read(file, buffer.data(), 4096, &done) && done == 0);
    CHECK(host.Seek(file, -10, SeekFrom::Current) == 9990);
    CHECK(host.Seek(file, -1, SeekFrom::Start) == -1);

    // A source is opened for reading only.
    CHECK(!host.Write(file, buffer.data(), 16, &done) && done == 0);
    host.Close(file);

    const std::wstring missing = temp.path + L"\\missing.dat";
    CHECK(host.OpenSourceFile(missing.c_str()) == kInvalidHandle);
    // Only a file on a disk is a source: a pipe or a device could hold a read for ever.
    const wchar_t pipeName[] = L"\\\\.\\pipe\\quillon-source-test";
    const HANDLE pipe = ::CreateNamedPipeW(pipeName, PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1, 4096,
                                           4096, 0, nullptr);
    CHECK(pipe != INVALID_HANDLE_VALUE);
    const FileHandle pipeSource = host.OpenSourceFile(pipeName);
    CHECK(pipeSource == kInvalidHandle);
    host.Close(pipeSource);
    if (pipe != INVALID_HANDLE_VALUE)
        ::CloseHandle(pipe);
    CHECK(host.OpenSourceFile(L"NUL") == kInvalidHandle);
    CHECK(host.OpenSourceFile(temp.path.c_str()) == kInvalidHandle);
    CHECK(host.Size(kInvalidHandle) == -1);
    CHECK(host.Seek(kInvalidHandle, 0, SeekFrom::Start) == -1);
}

// Positions past 4 GiB need the high word of every seek and size.
void TestBeyondFourGiB(TempFolder& temp)
{
    Host& host = NativeHost();
    const std::int64_t offset = (std::int64_t{5} << 30) + 3;
    const char tail[] = "KZ!";
    const std::wstring path = temp.File(L"large.dat");
    if (!WriteFileAt(path, offset, tail, 3)) {
        std::printf("note: no sparse 5 GiB file here; positions past 4 GiB not tested\n");
        return;
    }
    const FileHandle file = host.OpenSourceFile(path.c_str());
    CHECK(file != kInvalidHandle);
    if (file == kInvalidHandle)
        return;
    CHECK(host.Size(file) == offset + 3);
    CHECK(host.Seek(file, offset, SeekFrom::Start) == offset);
    char buffer[8] = {};
    std::uint32_t done = 0;
    CHECK(host.Read(file, buffer, sizeof(buffer), &done) && done == 3);
    CHECK(std::memcmp(buffer, tail, 3) == 0);
    // A low word of all ones is a valid position, not an error.
    const std::int64_t allOnesLow = (std::int64_t{1} << 32) + 0xFFFFFFFF;
    CHECK(host.Seek(file, allOnesLow, SeekFrom::Start) == allOnesLow);
    CHECK(host.Seek(file, -allOnesLow, SeekFrom::Current) == 0);
    host.Close(file);
}

// Raw writes must reach only a disk the host's own enumeration listed.
void TestOpenDiskRefusesUnlisted(TempFolder& temp)
{
    Host& host = NativeHost();
    const std::wstring plain = temp.File(L"not-a-disk.dat");
    CHECK(WriteFileAt(plain, 0, "data", 4));

    void* list = host.BeginDiskInterfaces();
    int listed = 0;
    WChar path[kDiskPathChars];
    for (int i = 0; i < 256; ++i) {
        const InterfaceStatus status = host.DiskInterfacePath(list, i, path, kDiskPathChars);
        if (status == InterfaceStatus::End)
            break;
        if (status == InterfaceStatus::Ok) {
            ++listed;
            CHECK(path[0] != 0);
        }
    }
    host.EndDiskInterfaces(list);
    std::printf("note: %d disk interface(s) listed\n", listed);

    CHECK(host.OpenDisk(plain.c_str()) == kInvalidHandle);
    CHECK(host.OpenDisk(L"\\\\.\\PhysicalDrive0") == kInvalidHandle);
    CHECK(host.OpenDisk(L"") == kInvalidHandle);
    CHECK(host.OpenDisk(nullptr) == kInvalidHandle);
}

struct ThreadWork {
    int result;
    volatile LONG ran;
};

int RunThread(void* arg)
{
    auto* work = static_cast<ThreadWork*>(arg);
    ::Sleep(static_cast<DWORD>(work->result & 3) * 10); // finish out of order
    ::InterlockedExchange(&work->ran, 1);
    return work->result;
}

// More threads than one wait can take (64), each with its own exit code, negative ones too.
void TestThreads()
{
    Host& host = NativeHost();
    constexpr int kCount = 70;
    std::vector<ThreadWork> work(kCount);
    std::vector<ThreadHandle> threads(kCount);
    for (int i = 0; i < kCount; ++i) {
        work[i].result = i == 5 ? -2 : 100 + i;
        work[i].ran = 0;
        threads[i] = host.StartThread(RunThread, &work[i]);
        CHECK(threads[i] != 0);
    }
    std::vector<int> codes(kCount, 12345);
    host.JoinThreads(threads.data(), kCount, codes.data());
    for (int i = 0; i < kCount; ++i) {
        CHECK(work[i].ran == 1);
        CHECK(codes[i] == work[i].result);
    }
}

void TestIoBuffers()
{
    Host& host = NativeHost();
    for (std::size_t size : {std::size_t{512}, std::size_t{4096}, std::size_t{1} << 20}) {
        void* buffer = host.AllocIoBuffer(size);
        CHECK(buffer != nullptr);
        if (buffer == nullptr)
            continue;
        CHECK(reinterpret_cast<std::uintptr_t>(buffer) % kIoAlignment == 0);
        std::memset(buffer, 0xA5, size); // the whole size is ours
        host.FreeIoBuffer(buffer);
    }
}

std::vector<int> g_progress;
int g_messages = 0;
void OnProgress(int percent)
{
    g_progress.push_back(percent);
}
void OnMessage(const WChar*)
{
    ++g_messages;
}

// No calculator is plugged in: the retried search ends with 104 and no disk is touched.
void TestTransferWithoutCalculator(TempFolder& temp)
{
    const std::wstring source = temp.File(L"ZENTA_OS.ROM");
    CHECK(WriteFileAt(source, 0, "firmware", 8));
    CHECK(!IsCalculatorConnected(L"KZ", L"Zenta update"));
    CHECK(RunTransfer(L"KZ", L"Zenta update", source.c_str(), 0, OnProgress, OnMessage) ==
          kResultNoDevice);
    for (int percent : g_progress)
        CHECK(percent == 0); // nothing was written, so no progress past 0
    CHECK(FinishCalculators(L"KZ", L"Zenta update") == kResultNoDevice);
}

} // namespace

int main()
{
    TempFolder temp;
    const struct {
        const char* name;
        void (*run)(TempFolder&);
    } tests[] = {
        {"source file reads", TestSourceFileReads},
        {"positions past 4 GiB", TestBeyondFourGiB},
        {"unlisted disks refused", TestOpenDiskRefusesUnlisted},
        {"threads and exit codes", [](TempFolder&) { TestThreads(); }},
        {"aligned I/O buffers", [](TempFolder&) { TestIoBuffers(); }},
        {"transfer without a calculator", TestTransferWithoutCalculator},
    };
    for (const auto& test : tests) {
        const int before = g_failures;
        std::printf("%s\n", test.name);
        std::fflush(stdout);
        test.run(temp);
        std::printf("  %s\n", g_failures == before ? "ok" : "FAILED");
    }
    std::printf("%s: %d failure(s)\n", g_failures == 0 ? "PASS" : "FAIL", g_failures);
    return g_failures == 0 ? 0 : 1;
}
