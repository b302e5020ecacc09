// The engine's test host: in-memory disks and source files, scripted faults, a clock that takes
// no time, and a log of every operation.
#pragma once

#include "device/host.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

// A host for tests: in-memory disks (calculators among them) behind realistic device paths,
// in-memory source files, scripted faults, and a clock that records pauses and takes no time.
// Every operation is recorded in one ordered log. Safe to use from several threads.
//
// A disk plays the calculator's update firmware: a 512-byte write at the mailbox offset is a
// command (recorded, not stored); the next 512-byte read there gives the reply. Everything
// else written is stored. Unwritten bytes read as a pattern of their offset, so that a write of
// zeros shows as a change.
class TestHost : public Host {
public:
    enum class Op {
        Enumerate,
        Open,
        OpenFailed,
        Close,
        Seek,
        Read,
        Write,
        Command,
        Flush,
        Sleep,
        ThreadStart,
        ThreadStartFailed,
    };
    struct Event {
        Op op;
        int disk;            // -1 for events of no disk (sleep, enumeration, files)
        int thread;          // small number of the thread that caused it, in order of first event
        std::int64_t offset; // seek target, read/write offset
        std::int64_t length; // read/write length; sleep milliseconds
        std::uint32_t code;  // command code
        std::uint32_t parameter;
        bool ok;
    };
    // How often an operation fails: skip the first `after` matching calls, then fail `times` of
    // them (-1: for good).
    struct Fault {
        int after = 0;
        int times = 0;
        bool Hit(int* seen) const;
        bool Covers(int call) const; // whether the call of this number fails (from 0)
    };
    struct Disk {
        std::string path; // UTF-8, as enumerated
        bool present = true;
        std::int64_t size = 64 << 20;
        bool sizeUnknown = false; // Size gives -1, as for a disk that does not tell its size
        Fault openFault;
        HostError openFailure{HostFailure::Busy, 16}; // what a faulted open gives as its reason
        Fault dataWriteFault;                         // writes other than command sectors
        std::int64_t dataWriteFaultOffset = -1;       // only writes at this offset, -1: any
        Fault readFault;
        Fault seekFault;
        Fault commandWriteFault;
        int refuseProgress = 0;             // progress commands answered with a refusal (-1: all)
        std::int64_t vanishAfterBytes = -1; // unplugged once this many data bytes are stored
        // Faults counted over every operation of the disk, in the order of its log: opens,
        // seeks, reads, writes (data and commands) and flushes, failed ones included; closes
        // and size queries are not counted (see Operations).
        Fault ioFault;         // the operation fails as the device's I/O error (EIO)
        Fault shortWriteFault; // a write stores its first half only, and says so in *done
        Fault lostWriteFault;  // a write says it stored everything and stores nothing
        Fault unplugFault;     // the disk is gone from this operation on, for good
        // state
        std::map<std::int64_t, std::vector<unsigned char>> pages;
        std::vector<unsigned char> reply;
        int openSeen = 0, writeSeen = 0, readSeen = 0, seekSeen = 0, commandSeen = 0, refused = 0;
        int operationSeen = 0;
        int finishTaken = 0; // finish commands the calculator took (not merely written at it)
        std::int64_t bytesStored = 0;
    };
    struct SourceFile {
        std::string path;
        std::vector<unsigned char> data;
        Fault openFault;
        Fault readFault;
        std::int64_t readableBytes = -1; // reads end here, as if the file shrank (-1: all)
        int openSeen = 0, readSeen = 0;
    };

    static constexpr std::int64_t kPageSize = 4096;
    static constexpr std::int64_t kMailbox = 87040;

    TestHost();
    ~TestHost() override;

    // The usual device path of a calculator with the given serial, and of other disks.
    static std::string CalculatorPath(const std::string& serial);
    static std::string UsbDiskPath(const std::string& vendor, const std::string& product,
                                   const std::string& serial);
    static std::string SataDiskPath(const std::string& vendor, const std::string& product);

    int AddDisk(const std::string& path); // gives the disk's index
    int AddCalculator(const std::string& serial) { return AddDisk(CalculatorPath(serial)); }
    void AddSourceFile(const std::string& path, std::vector<unsigned char> data);

    // Changes made under the host's lock; the functions see a consistent host.
    void EditDisk(int disk, const std::function<void(Disk&)>& edit);
    void EditSourceFile(const std::string& path, const std::function<void(SourceFile&)>& edit);

    Fault enumerateFault;      // BeginDiskInterfaces gives no list
    std::set<int> skipMembers; // enumeration members whose details cannot be had
    Fault threadStartFault;
    Fault allocFault;
    // Called at every pause, outside the host's lock, before it is recorded as done.
    std::function<void(int ms)> onSleep;
    // Called in place of onSleep at a pause that `wake` cuts short, when set.
    std::function<void(int ms, const std::atomic<bool>& wake)> onSleepUnless;

    std::vector<Event> Events() const;
    std::vector<Event> EventsOf(int disk) const;
    // The disk's operations as the faults above count them: its events but the closes.
    std::vector<Event> OperationsOf(int disk) const;
    // The bytes of a disk as a reader would see them.
    std::vector<unsigned char> DiskBytes(int disk, std::int64_t offset, std::int64_t length) const;
    // Offsets of every 4096-byte page of the disk that a write has touched.
    std::vector<std::int64_t> TouchedPages(int disk) const;
    static unsigned char PatternByte(std::int64_t offset);
    int OpenHandles() const;
    std::int64_t SleptMs() const;

    // Host
    void* BeginDiskInterfaces() override;
    InterfaceStatus DiskInterfacePath(void* list, int index, WChar* path, int capacity) override;
    void EndDiskInterfaces(void* list) override;
    FileHandle OpenDisk(const WChar* path) override;
    FileHandle OpenSourceFile(const WChar* path) override;
    std::int64_t Seek(FileHandle file, std::int64_t offset, SeekFrom from) override;
    bool Read(FileHandle file, void* buffer, std::uint32_t length, std::uint32_t* done) override;
    bool Write(FileHandle file, const void* buffer, std::uint32_t length,
               std::uint32_t* done) override;
    bool ReadAt(FileHandle file, std::int64_t offset, void* buffer, std::uint32_t length,
                std::uint32_t* done) override;
    bool WriteAt(FileHandle file, std::int64_t offset, const void* buffer, std::uint32_t length,
                 std::uint32_t* done) override;
    std::int64_t Size(FileHandle file) override;
    bool Flush(FileHandle file) override;
    void Close(FileHandle file) override;
    HostError OpenError() override;
    HostError LastError(FileHandle file) override;
    void* AllocIoBuffer(std::size_t size) override;
    void FreeIoBuffer(void* buffer) override;
    ThreadHandle StartThread(ThreadProc proc, void* arg) override;
    void JoinThreads(const ThreadHandle* threads, int count, int* exitCodes) override;
    void Sleep(int milliseconds) override;
    // Recorded as one pause of the full length, which returns at once when `wake` is set.
    void SleepUnless(int milliseconds, const std::atomic<bool>& wake) override;

private:
    struct Handle {
        int disk = -1;    // a disk, or
        std::string file; // a source file
        std::int64_t position = 0;
        HostError lastError;
    };
    struct Thread;

    void Record(Op op, int disk, std::int64_t offset = 0, std::int64_t length = 0,
                std::uint32_t code = 0, std::uint32_t parameter = 0, bool ok = true);
    int ThreadNumber();
    FileHandle OpenFailed(HostError why);
    Handle* Find(FileHandle file);
    bool ReadFrom(Handle* handle, std::int64_t at, bool advance, void* buffer, std::uint32_t length,
                  std::uint32_t* done);
    bool WriteTo(Handle* handle, std::int64_t at, bool advance, const void* buffer,
                 std::uint32_t length, std::uint32_t* done);
    bool DiskRead(Handle& handle, std::int64_t at, unsigned char* out, std::uint32_t length);
    bool DiskWrite(Handle& handle, std::int64_t at, const unsigned char* data, std::uint32_t length,
                   std::uint32_t* stored);
    // Numbers the disk's next operation; unplugs the disk when its fault says so.
    int NextOperation(Disk& disk);
    void TakeCommand(Disk& disk, int index, const unsigned char* sector);
    void Store(Disk& disk, std::int64_t offset, const unsigned char* data, std::int64_t length);
    void CopyOut(const Disk& disk, std::int64_t offset, unsigned char* out,
                 std::int64_t length) const;

    mutable std::recursive_mutex lock_;
    std::vector<Disk> disks_;
    std::map<std::string, SourceFile> files_;
    std::map<FileHandle, Handle> handles_;
    FileHandle nextHandle_ = 1;
    std::vector<Event> events_;
    std::map<std::thread::id, int> threadNumbers_;
    std::map<std::thread::id, HostError> openErrors_; // each thread's latest failed open
    int enumerateSeen_ = 0, threadStartSeen_ = 0, allocSeen_ = 0;
    std::int64_t sleptMs_ = 0;
};
