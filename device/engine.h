#pragma once

#include "device/types.h"

// The device transfer engine: finds the calculator disks, writes one file onto every one of
// them, and sends the finish command. Plain functions, integer results, no exceptions. The three
// entries below never overlap: each holds the engine lock for its whole length.

// Result codes of a transfer, shown to the user as decimal numbers.
enum : int {
    kResultOk = 0,            // the file was written to every disk
    kResultNoDevice = 104,    // no calculator disk was found by the retried search
    kResultSourceOpen = 105,  // the source file cannot be opened, or its path does not fit
    kResultDiskNotOpen = 107, // the disk could not be opened
    kResultSourceRead = 109,  // reading the source failed, or it ended before its size
    kResultNoMemory = 110,    // no chunk buffer, or not one transfer thread could be started
    kResultWriteFailed = 112, // a chunk write failed in all 7 attempts
    kResultException = -2,    // the worker loop ended by an exception (set by the worker)
};

constexpr int kMaxDisks = 16;

// Called on the transfer threads, possibly at the same time from several of them. The text
// belongs to the calling thread and lives until that thread ends: copy it to keep it.
using ProgressCallback = void (*)(int percent);
using MessageCallback = void (*)(const WChar* text);

// True when at least one calculator disk is present; one enumeration, no retry.
bool IsCalculatorConnected(const WChar* vendorId, const WChar* productId);

// Writes the file at sourcePath onto every calculator disk at diskOffset, one thread per disk,
// and blocks until all have ended. Gives 0 or the first failure in disk-table order.
int RunTransfer(const WChar* vendorId, const WChar* productId, const WChar* sourcePath,
                std::int64_t diskOffset, ProgressCallback progress, MessageCallback message);

// Sends the finish command to every calculator disk that opens: 0, or 104 when none was found.
int FinishCalculators(const WChar* vendorId, const WChar* productId);

// A pause through the host's clock, so that tests never wait for real.
void HostSleep(int milliseconds);
