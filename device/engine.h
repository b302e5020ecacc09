// The device transfer engine: finds the calculator disks, writes one file onto every one of
// them, and sends the finish command. Plain functions, integer results, no exceptions. The
// entries below never overlap: each holds the engine lock for its whole length.
#pragma once

#include "device/types.h"

#include <atomic>
#include <cstddef>
#include <vector>

// Result codes of a transfer, shown to the user as decimal numbers.
enum : int {
    kResultOk = 0,            // the file was written to every disk
    kResultNoDevice = 104,    // no calculator disk was found by the retried search
    kResultSourceOpen = 105,  // the source file cannot be opened, or its path does not fit
    kResultDiskNotOpen = 107, // the disk could not be opened
    // Reading the source failed, it ended before its size, or it is no longer the file whose
    // digest was taken.
    kResultSourceRead = 109,
    kResultNoMemory = 110, // no chunk buffer; a transfer thread not started, or its result lost
    // The file does not fit its place on the calculator's disk: a negative offset, or it would
    // end past the disk's end. Nothing was written.
    kResultOutsideDisk = 111,
    kResultWriteFailed = 112, // a chunk write failed in all 7 attempts
    // Read back after the write, the disk does not hold the file's bytes (or cannot be read).
    kResultVerifyFailed = 113,
    // The finish command was written, but the calculator is still in update mode (its disk is
    // still there) after every round of the finish.
    kResultStayedInUpdateMode = 114,
    kResultException = -2, // the worker loop ended by an exception (set by the worker)
    kResultStopped = -3,   // a check stopped on request before its end; nothing was written
};

constexpr int kMaxDisks = 16;

// The calculators an entry may touch, by the interface paths a listing gave them: any other
// calculator disk found (one plugged in meanwhile, one another wave already updated) is left
// alone. Entries take a null selection for every calculator found.
struct DiskSelection {
    int count = 0;
    WChar paths[kMaxDisks][kDiskPathChars] = {};
};
// Adds a path; false when the selection is full or the path does not fit a slot.
bool SelectDisk(DiskSelection* selection, const WChar* path);

// The ids a calculator in update mode gives its disk, and the same in the engine's own text, as
// every entry that searches for the calculator takes them. Made at compile time: nothing to
// destroy at exit while a thread may still be searching.
constexpr char kCalculatorVendorId[] = "KZ";
constexpr char kCalculatorProductId[] = "Zenta update";

template <std::size_t N> struct WideId {
    WChar text[N];
};
template <std::size_t N> constexpr WideId<N> Widen(const char (&ascii)[N])
{
    WideId<N> wide{};
    for (std::size_t i = 0; i < N; ++i)
        wide.text[i] = static_cast<WChar>(ascii[i]);
    return wide;
}
constexpr WideId<sizeof kCalculatorVendorId> kCalculatorVendorId16 = Widen(kCalculatorVendorId);
constexpr WideId<sizeof kCalculatorProductId> kCalculatorProductId16 = Widen(kCalculatorProductId);

// Called on the transfer threads, possibly at the same time from several of them. The text
// belongs to the calling thread and lives until that thread ends: copy it to keep it.
using ProgressCallback = void (*)(int percent);
using MessageCallback = void (*)(const WChar* text);

// True when at least one calculator disk is present; one enumeration, no retry.
bool IsCalculatorConnected(const WChar* vendorId, const WChar* productId);

// Writes the file at sourcePath onto every calculator disk at diskOffset, one thread per disk,
// and blocks until all have ended. Gives 0 or the first failure in disk-table order; 111 for a
// negative offset, before any search.
int RunTransfer(const WChar* vendorId, const WChar* productId, const WChar* sourcePath,
                std::int64_t diskOffset, ProgressCallback progress, MessageCallback message);

// A transfer writes a file in chunks of this size, the last one shorter; each has its digest.
constexpr std::uint32_t kChunkSize = 16384;
constexpr std::int64_t ChunkCount(std::int64_t bytes)
{
    return (bytes + kChunkSize - 1) / kChunkSize;
}

struct ChunkSum {
    unsigned char sha256[32];
};

// Size and SHA-256 of a firmware file, taken when the update set is checked, with the SHA-256
// of each of its chunks in order: a transfer compares every chunk with its sum before the chunk
// is written, so that a file changed since its check never reaches a calculator.
struct SourceDigest {
    std::int64_t size = 0;
    unsigned char sha256[32] = {};
    std::vector<ChunkSum> chunks;
};

// Opens the file as a transfer would (regular files only, never blocking), reads it whole and
// digests it: 0, 105 (cannot be opened / not a regular file), 109 (a read failed or the file
// ended before its size), 110 (no memory).
// With `stop` given, it is looked at before each chunk: once true, the digest ends with -3.
int DigestSourceFile(const WChar* path, SourceDigest* digest,
                     const std::atomic<bool>* stop = nullptr);

// The sizes in bytes of the calculator disks present now (one search, no retry, in disk-table
// order), -1 for a disk whose size cannot be read; gives how many were found (0..capacity).
int GetCalculatorDiskSizes(const WChar* vendorId, const WChar* productId, std::int64_t* sizes,
                           int capacity);

// RunTransfer that also proves the bytes: with `expected` not null, a source whose size at the
// start differs, or an `expected` without a sum for every chunk, fails with 109 before any byte
// is written; each transfer thread compares every chunk it read with its sum before writing it
// (a chunk that differs is not written: 109), and a size that differs at the end fails the
// thread with 109 before progress 100 is sent. RunTransfer is this with nullptr, unchanged in
// behaviour.
// With `only` given, just the calculators of that selection are written (104 when none of them
// is there).
int RunCheckedTransfer(const WChar* vendorId, const WChar* productId, const WChar* sourcePath,
                       std::int64_t diskOffset, const SourceDigest* expected,
                       ProgressCallback progress, MessageCallback message,
                       const DiskSelection* only = nullptr);

// Units of a disk's serial and host node, terminator included.
constexpr int kDiskNameChars = 64;

// One calculator disk as a run or a listing saw it.
struct DiskResult {
    WChar devicePath[kDiskPathChars]; // the interface path the engine found it by
    WChar serial[kDiskNameChars];     // the instance part of that path; empty when it has none
    WChar node[kDiskNameChars];       // the host's own name ("/dev/sdb"); empty when not given
    std::int64_t size;                // bytes; -1 when the disk cannot be opened or sized
    int result;                       // of the disk's transfer thread: 0 or a failure code
};

// The disks of the latest transfer run, in disk-table order, each with its thread's result;
// gives how many (0 when that run found none). Every RunTransfer and RunCheckedTransfer
// replaces them; a disk's size is not taken here (-1).
int GetTransferResults(DiskResult* results, int capacity);

// Called from a progress or message callback: the disk-table index of the disk the calling
// transfer thread writes, so that a caller can tell the disks' progress apart; -1 elsewhere.
int CurrentTransferDisk();
// Likewise the interface path of that disk (as in DiskResult::devicePath), so that a caller can
// tell which calculator it is even when the disks changed since it last listed them; nullptr
// elsewhere.
const WChar* CurrentTransferDiskPath();

// Every calculator disk present now, in enumeration order, not only the first kMaxDisks (a
// transfer passes over the rest): path, serial, node and size (result 0, or 107 when it does
// not open). Gives how many there are, which may exceed capacity; one search, no retry.
// With `open` false no disk is opened (size -1, result 0): a listing beside an update under way
// must not hold a disk that the update is about to open.
int ListCalculatorDisks(const WChar* vendorId, const WChar* productId, DiskResult* disks,
                        int capacity, bool open = true);

// Reads the file's stretch at diskOffset back from every calculator disk (one thread each) and
// compares it byte for byte with the file, which must still be the one `expected` describes.
// One result per disk, in disk-table order: 0, 105 or 109 (the file cannot be opened, read or
// is no longer that file), 107 (the disk does not open), 110 (no memory), 113 (the disk holds
// other bytes or cannot be read). The mailbox sector is left out of the comparison: a read
// there gives the calculator's reply, not data. Gives how many disks were read, 0 when none.
// With `only` given, just the calculators of that selection are read.
int VerifyCalculatorDisks(const WChar* vendorId, const WChar* productId, const WChar* sourcePath,
                          std::int64_t diskOffset, const SourceDigest& expected,
                          DiskResult* results, int capacity, const DiskSelection* only = nullptr);

// Sends the finish command to every calculator disk that opens: 0, or 104 when none was found.
int FinishCalculators(const WChar* vendorId, const WChar* productId);
// The same, with what became of each disk's command, in disk-table order: 0 written and the
// calculator gone from the disks (it left update mode), 107 the disk did not open, 112 the
// command's write failed, 114 written but the calculator stayed (sent again twice meanwhile). Gives
// how many disks were found (0: none, nothing sent); the first `capacity` of them are described.
// With `only` given, the command goes to the calculators of that selection alone.
int FinishCalculatorDisks(const WChar* vendorId, const WChar* productId, DiskResult* results,
                          int capacity, const DiskSelection* only = nullptr);

// A pause through the host's clock, so that tests never wait for real.
void HostSleep(int milliseconds);

// Where the engine says why a calculator disk failed: one line of UTF-8 without a newline, such
// as "calculator disk \\?\usbstor#...: not opened (a transfer to it ends with 107): busy: held by
// another program (system error 16)". Called on the engine's threads; nullptr (the default)
// sends the lines nowhere.
using EngineLogCallback = void (*)(const char* line);
void SetEngineLog(EngineLogCallback log);
