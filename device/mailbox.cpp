// The mailbox sector: command sectors written to it, replies read from it, and the reads
// of the area around it that the calculator expects.
#include "device/mailbox.h"

#include "device/discovery.h"
#include "device/engine_state.h"
#include "device/host.h"
#include "device/little_endian.h"
#include "device/text16.h"

MailboxSector MakeCommand(std::uint32_t code, std::uint32_t parameter)
{
    MailboxSector sector{};
    StoreLe32(sector.bytes, kMailboxMagic);
    sector.bytes[4] = 'K';
    sector.bytes[5] = 'L';
    sector.bytes[6] = 'V';
    sector.bytes[7] = 'D';
    StoreLe32(sector.bytes + 8, kMailboxSectorSize);
    StoreLe32(sector.bytes + 12, code);
    StoreLe32(sector.bytes + 16, parameter);
    return sector;
}

std::uint32_t SectorWord(const MailboxSector& sector, int offset)
{
    return LoadLe32(sector.bytes + offset);
}

int ReadMailboxArea(FileHandle disk, bool longForm)
{
    Host& host = CurrentHost();
    void* scratch = host.AllocIoBuffer(kMailboxScratchSize);
    if (scratch == nullptr)
        return 1;
    // Read where the seek landed only: a seek that went elsewhere reads nothing.
    ReadDiskFrom(disk, kMailboxOffset, scratch, longForm ? kMailboxAreaLong : kMailboxAreaShort);
    host.FreeIoBuffer(scratch);
    return 1;
}

// At the mailbox sector itself: a command can land nowhere else, and the caller's position stays
// where it was.
bool WriteMailbox(FileHandle disk, const MailboxSector& command)
{
    return WriteDiskAt(disk, kMailboxOffset, command.bytes, kMailboxSectorSize);
}

bool ExchangeMailbox(FileHandle disk, const MailboxSector& command, MailboxSector* reply)
{
    const bool written = WriteMailbox(disk, command);
    // Read even after a failed write, as ever.
    const bool read = ReadDiskAt(disk, kMailboxOffset, reply->bytes, kMailboxSectorSize);
    return written && read;
}

bool SendCommand(FileHandle disk, std::uint32_t code, std::uint32_t parameter)
{
    return WriteMailbox(disk, MakeCommand(code, parameter));
}

bool TransactCommand(FileHandle disk, std::uint32_t code, std::uint32_t parameter,
                     std::uint32_t* status, std::uint32_t* value)
{
    MailboxSector reply{};
    const bool exchanged = ExchangeMailbox(disk, MakeCommand(code, parameter), &reply);
    *status = SectorWord(reply, 12);
    *value = SectorWord(reply, 16);
    return exchanged;
}

bool SendProgress(FileHandle disk, std::uint32_t percent)
{
    for (int attempt = 0; attempt < kProgressAttempts; ++attempt) {
        std::uint32_t status = 0;
        std::uint32_t value = 0;
        if (TransactCommand(disk, kCmdProgress, percent, &status, &value) &&
            status == (kReplyFlag | kCmdProgress))
            return true;
    }
    return false;
}

bool SendFinish(FileHandle disk)
{
    return SendCommand(disk, kCmdFinish, 0);
}

namespace {

// Without the command the calculator stays in update mode: a disk that failed to open or to take
// it is opened and given it again, as often as a chunk is written.
int SendFinishTo(int disk)
{
    Host& host = CurrentHost();
    int result = kResultDiskNotOpen;
    for (int attempt = 0; attempt < kFinishAttempts && result != kResultOk; ++attempt) {
        if (g_diskHandles[disk] == kInvalidHandle)
            g_diskHandles[disk] = host.OpenDisk(g_diskPaths[disk]);
        if (g_diskHandles[disk] == kInvalidHandle) {
            result = kResultDiskNotOpen;
            continue;
        }
        ReadMailboxArea(g_diskHandles[disk], false);
        if (SendFinish(g_diskHandles[disk])) {
            result = kResultOk;
        } else {
            result = kResultWriteFailed;
            host.Close(g_diskHandles[disk]);
            g_diskHandles[disk] = kInvalidHandle;
        }
    }
    return result;
}

// The command has no reply: what shows that a calculator took it is its disk going away as it
// leaves update mode. Waits for every disk whose result is 0 to leave (absent from two listings
// in a row, so that one listing that fails proves nothing); gives how many are still there, with
// their `waiting` entries left true.
int AwaitLeaving(const WChar* vendorId, const WChar* productId, const int* results, bool* waiting)
{
    DiskListing listed;
    int absent[kMaxDisks] = {};
    int left = 0;
    for (int i = 0; i < g_diskCount; ++i) {
        waiting[i] = results[i] == kResultOk;
        left += waiting[i] ? 1 : 0;
    }
    for (int waited = 0; left > 0; waited += kLeavePollMs) {
        // Every disk is listed: one of ours may come after kMaxDisks others.
        listed.Find(vendorId, productId);
        for (int i = 0; i < g_diskCount; ++i) {
            if (!waiting[i])
                continue;
            // No room for a listing proves nothing: the disk counts as still there.
            const bool present = listed.paths == nullptr || listed.Holds(g_diskPaths[i]);
            absent[i] = present ? 0 : absent[i] + 1;
            if (absent[i] >= 2) {
                waiting[i] = false;
                --left;
            }
        }
        if (left == 0 || waited >= kLeaveWaitMs)
            break;
        CurrentHost().Sleep(kLeavePollMs);
    }
    return left;
}

} // namespace

int FinishCalculatorDisks(const WChar* vendorId, const WChar* productId, DiskResult* results,
                          int capacity, const DiskSelection* only)
{
    std::lock_guard<std::mutex> lock(g_engineLock);
    g_diskCount = FindSelectedDisksWithRetry(g_diskPaths, vendorId, productId, only);
    if (g_diskCount == 0)
        return 0;
    OpenCalculatorDisks();
    int finished[kMaxDisks];
    for (int i = 0; i < g_diskCount; ++i)
        finished[i] = SendFinishTo(i);
    CloseCalculatorDisks();
    // A disk can say it stored the command and drop it: a calculator still there after the wait
    // is sent it again; one that never leaves has not been finished, whatever the writes said.
    bool waiting[kMaxDisks] = {};
    for (int round = 1; AwaitLeaving(vendorId, productId, finished, waiting) > 0; ++round) {
        for (int i = 0; i < g_diskCount; ++i) {
            // A resend that fails changes nothing: the disk may be going away as it is opened.
            if (waiting[i] && round < kFinishRounds)
                SendFinishTo(i);
            else if (waiting[i])
                finished[i] = kResultStayedInUpdateMode;
        }
        CloseCalculatorDisks();
        if (round == kFinishRounds)
            break;
    }
    for (int i = 0; results != nullptr && i < g_diskCount && i < capacity; ++i) {
        DescribeDisk(g_diskPaths[i], &results[i]);
        results[i].size = -1;
        results[i].result = finished[i];
    }
    return g_diskCount;
}

int FinishCalculators(const WChar* vendorId, const WChar* productId)
{
    return FinishCalculatorDisks(vendorId, productId, nullptr, 0) > 0 ? kResultOk : kResultNoDevice;
}
