// One file written onto every calculator disk, one thread per disk (each with a reader of the
// source running ahead of its writes).
#pragma once

#include "device/engine.h"

#include <condition_variable>
#include <mutex>

constexpr int kWriteAttempts = 7;
constexpr int kTransferPauseMs = 100;
// The thread's own copy of the text it announces; never shorter than a path.
constexpr int kDisplayTextChars = kSourcePathChars > 360 ? kSourcePathChars : 360;

// Built by RunTransfer; read-only while the threads run.
struct TransferRequest {
    std::int64_t diskOffset;
    // Size of the source when the run started; -1 when it could not be taken, which makes every
    // thread fail with 105 rather than report an empty file as written.
    std::int64_t byteCount;
    WChar sourcePath[kSourcePathChars];
    WChar displayText[kSourcePathChars];
    // What the bytes must be, or nullptr when they are not checked.
    const SourceDigest* expected;
};

// Opened once every transfer thread of a run has been started: a thread a transfer starts for
// itself comes after all of them, so that which start fails when one fails stays the same.
struct StartGate {
    std::mutex lock;
    std::condition_variable opened;
    bool open = false;
};

// One per disk, alive for the length of the run.
struct TransferTask {
    int index; // in the disk table
    FileHandle disk;
    std::int64_t diskOffset;
    std::int64_t byteCount;
    const WChar* sourcePath;
    const WChar* displayText;
    const SourceDigest* expected;
    StartGate* started; // nullptr: no wait
};

// Size in bytes of the file, 0 when it cannot be opened, -1 when it opens but its size cannot be
// read (a size never known is not copied as an empty file).
std::int64_t GetSourceSize(const WChar* path);

// Runs one TransferThread per disk of the table and waits for all of them. Gives the first
// non-zero result in disk-table order, 0 when every disk was written; a disk whose thread
// could not be started counts as 110. Each disk's own result goes to diskResults when given
// (g_diskCount of them).
int RunTransferThreads(const TransferRequest& request, int* diskResults = nullptr);

// The thread procedure; arg is a TransferTask. Gives a result code.
int TransferThread(void* arg);
