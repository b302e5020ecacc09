// The transfer bench's host: the native one, timing the engine's disk I/O, and showing a loop
// device to the engine as a calculator.
#pragma once

#include "device/host.h"

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// The native host, timing what the engine asks of its disks: the file's data writes, and the
// mailbox sector's command writes and reply reads, so that the cost of the progress exchanges
// can be told apart from the data's. Given a real disk (a loop device), it also shows that disk
// to the engine under a calculator's path, so that RunTransfer writes onto it exactly as onto a
// calculator; without one, the engine sees the native host's own disks (an emulated calculator
// in a test bed).
class LoopCalculatorHost : public Host {
public:
    using Clock = std::chrono::steady_clock;

    struct Counts {
        int dataWrites = 0;
        int mailboxWrites = 0;  // 512-byte commands
        int mailboxReads = 0;   // 512-byte replies
        double dataSeconds = 0; // first data write started to last one ended, over all disks
        double mailboxWriteSeconds = 0;
        double mailboxReadSeconds = 0;
        double mailboxSecondsInData = 0; // of the commands and replies inside the data phase
        double dataWriteSeconds = 0;     // inside the data writes themselves
    };

    // realPath: the native host's path of the disk shown as a calculator; "" for none.
    explicit LoopCalculatorHost(const std::string& realPath = "");

    static const char* CalculatorPath();
    void ResetTimes();
    Counts Taken() const;

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
    bool IsDisk(FileHandle file, std::int64_t* position);
    void Advance(FileHandle file, std::int64_t position);

    Host& native_;
    std::string realPath_;
    mutable std::mutex lock_;
    std::map<FileHandle, std::int64_t> disks_; // open disks and their positions
    Clock::time_point first_{}, last_{};
    Counts counts_;
    std::vector<std::pair<Clock::time_point, Clock::duration>> mailbox_; // each command and reply
};
