#pragma once

#include "device/host.h"

#include <chrono>
#include <mutex>
#include <string>

// The native host, with one of its real disks (a loop device) shown to the engine under a
// calculator's path, so that RunTransfer writes onto it exactly as onto a calculator. It also
// notes when the file's data started and stopped moving.
class LoopCalculatorHost : public Host {
public:
    using Clock = std::chrono::steady_clock;

    // realPath: the native host's path of the disk; ok() is false when it is not listed.
    explicit LoopCalculatorHost(const std::string& realPath);

    static const char* CalculatorPath();
    void ResetTimes();
    double DataSeconds() const; // first data write started to last one ended
    int DataWrites() const;

    void* BeginDiskInterfaces() override;
    InterfaceStatus DiskInterfacePath(void* list, int index, WChar* path, int capacity) override;
    void EndDiskInterfaces(void* list) override;
    FileHandle OpenDisk(const WChar* path) override;
    FileHandle OpenSourceFile(const WChar* path) override;
    std::int64_t Seek(FileHandle file, std::int64_t offset, SeekFrom from) override;
    bool Read(FileHandle file, void* buffer, std::uint32_t length, std::uint32_t* done) override;
    bool Write(FileHandle file, const void* buffer, std::uint32_t length,
               std::uint32_t* done) override;
    std::int64_t Size(FileHandle file) override;
    bool Flush(FileHandle file) override;
    void Close(FileHandle file) override;
    void* AllocIoBuffer(std::size_t size) override;
    void FreeIoBuffer(void* buffer) override;
    ThreadHandle StartThread(ThreadProc proc, void* arg) override;
    void JoinThreads(const ThreadHandle* threads, int count, int* exitCodes) override;
    void Sleep(int milliseconds) override;

private:
    Host& native_;
    std::string realPath_;
    FileHandle disk_ = kInvalidHandle;
    std::int64_t position_ = 0;
    mutable std::mutex lock_;
    Clock::time_point first_{}, last_{};
    int writes_ = 0;
};
