// The emulated calculator, how it misbehaves when asked to, and what it records of a run.
#pragma once

#include "emulated_disk.h"
#include "extents.h"
#include "mailbox_layout.h"

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// One firmware file as the calculator expects it: where it goes and what it must hold.
struct FileRegion {
    std::string name;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    QByteArray sha256;
};

// Writes of requests that hold this byte fail with an I/O error, `failures` times (< 0: always).
struct WriteFault {
    std::uint64_t offset = 0;
    int failures = 0;
};

struct CalculatorBehaviour {
    bool refuseProgress = false; // answers every progress command with a refusal
    std::vector<WriteFault> writeFaults;
    // Pulled out of the port, once, right after a data write that holds this byte.
    std::optional<std::uint64_t> pullAtOffset;
    // A bad cell: every data write that holds this byte stores it with its lowest bit flipped.
    std::optional<std::uint64_t> flipByte;
};

struct ProgressStep {
    std::uint32_t percent = 0;
    int times = 0; // the same command, sent again right after a refusal
    bool accepted = false;
};

// One transfer as the calculator sees it: from the first progress 0 after a mailbox-area read.
struct TransferRecord {
    double startedAt = 0;
    double endedAt = 0;
    std::vector<ProgressStep> progress;
    Extents written;
    std::uint64_t writeRequests = 0;
    std::uint64_t failedWrites = 0;
    bool completed = false; // progress 100 came
    int file = -1;          // index of the file whose offset the data began at
    QByteArray sha256;      // of that file's stretch, taken when progress 100 came
    bool coveredWhole = false;
    bool strayBytes = false; // data went beyond the file's last sector
};

struct MailboxEvent {
    enum Kind { Command, AreaRead } kind = Command;
    double at = 0;
    std::uint32_t code = 0;
    std::uint32_t parameter = 0; // bytes read, for an area read
    bool accepted = false;
};

struct CalculatorState {
    std::vector<TransferRecord> transfers;
    std::vector<MailboxEvent> events;
    std::optional<double> finishAt;
    std::uint64_t strayWrites = 0; // data written outside any transfer
    std::uint64_t writesAfterFinish = 0;
    std::uint64_t ioWhileAway = 0; // requests refused because the disk was gone
    std::optional<std::uint64_t> changedOutsideFiles;
    // The disk as it is at the end: what differs from its earlier contents (command sectors are
    // never stored), and each file's stretch of it.
    Extents changed;
    std::vector<QByteArray> finalSha256; // in the order of the files
};

// The calculator in update mode: its disk stores data, its mailbox sector takes commands.
class Calculator : public EmulatedDisk {
public:
    using Clock = std::chrono::steady_clock;

    Calculator(std::string serial, std::uint64_t size, std::vector<FileRegion> files,
               CalculatorBehaviour behaviour, Clock::time_point origin);

    const std::string& Serial() const { return serial_; }
    std::uint64_t Size() const override { return image_.Size(); }
    int Read(std::uint64_t offset, std::uint64_t length, unsigned char* out) override;
    int Write(std::uint64_t offset, std::uint64_t length, const unsigned char* in) override;

    // The disk is there or not, as the emulator plugs it in or takes it away.
    void SetPresent(bool present);
    // True once, after the pull point was passed: the emulator then takes the disk away.
    bool TakePulled();
    // The latest finish command came at least `delay` seconds ago: time to leave update mode.
    bool FinishedFor(double delay) const;
    // Finish commands taken so far.
    int Finishes() const;
    CalculatorState State() const;
    // What the disk held before: these bytes at this offset (before anything is written).
    void SetEarlier(std::uint64_t offset, const QByteArray& bytes);
    // Called with every stretch of data stored, before the write is answered, with the
    // calculator's lock held: it must not call back into the calculator.
    void OnData(std::function<void(std::uint64_t offset, std::uint64_t length)> hook);
    std::uint64_t DataWrites() const { return dataWrites_; }

private:
    double Now() const;
    bool FaultHits(std::uint64_t offset, std::uint64_t length);
    void StoreData(std::uint64_t offset, std::uint64_t length, const unsigned char* in);
    void TakeCommand(const MailboxCommand& command);
    void TakeProgress(std::uint32_t percent, bool accepted);
    void Complete(TransferRecord& transfer);
    TransferRecord* Current();

    const std::string serial_;
    const std::vector<FileRegion> files_;
    CalculatorBehaviour behaviour_;
    const Clock::time_point origin_;

    mutable std::mutex mutex_;
    SparseImage image_;
    CalculatorState state_;
    bool present_ = false;
    bool pulled_ = false;
    bool pullPending_ = false;
    bool replyHeld_ = false;
    unsigned char reply_[kSectorSize] = {};
    bool areaReadSinceCommand_ = false;
    std::optional<MailboxCommand> lastCommand_;
    int finishes_ = 0;
    double lastFinishAt_ = 0;
    bool lastAccepted_ = true;
    std::function<void(std::uint64_t, std::uint64_t)> onData_;
    std::atomic<std::uint64_t> dataWrites_{0};
};
