// The command exchange with a calculator through its mailbox sector, on the disk I/O layer.
// A handle is used by one thread at a time: an exchange is a write and then a read, and nothing
// keeps another thread's command from landing between them.
#pragma once

#include "device/block_io.h"
#include "device/host.h"

constexpr std::int64_t kMailboxOffset = 87040; // sector 170 of 512-byte sectors
constexpr std::uint32_t kMailboxMagic = 0xAA5555AA;
constexpr std::uint32_t kReplyFlag = 0x80000000;
constexpr std::uint32_t kCmdProgress = 0xBEDC;
constexpr std::uint32_t kCmdFinish = 0xBEC1;
constexpr std::uint32_t kMailboxSectorSize = 512;
constexpr std::uint32_t kMailboxAreaShort = 15360; // 30 sectors
constexpr std::uint32_t kMailboxAreaLong = 15872;  // 31 sectors
constexpr std::uint32_t kMailboxScratchSize = 16384;
constexpr int kProgressAttempts = 6;
// Opens and writes of the finish command per disk before it counts as not sent.
constexpr int kFinishAttempts = 7;
// A calculator leaves update mode on the finish command, and its disk goes away: one still listed
// kLeaveWaitMs after it is sent the command again, up to kFinishRounds times in all.
constexpr int kLeaveWaitMs = 5000;
constexpr int kLeavePollMs = 250;
constexpr int kFinishRounds = 3;

// One 512-byte command or reply sector, little-endian words. Aligned so that unbuffered I/O
// takes it as it is.
struct alignas(512) MailboxSector {
    unsigned char bytes[kMailboxSectorSize];
};

// command: magic, "KLVD", length 512, code, parameter; the rest is zero.
MailboxSector MakeCommand(std::uint32_t code, std::uint32_t parameter);
std::uint32_t SectorWord(const MailboxSector& sector, int offset);

// Reads and discards 15360 (short) or 15872 (long) bytes from the mailbox offset; the position
// is left where the read ended. Always 1: the calculator's answer is not examined.
int ReadMailboxArea(FileHandle disk, bool longForm);
// Both keep the caller's position: they write and read at the mailbox offset itself.
bool WriteMailbox(FileHandle disk, const MailboxSector& command);
bool ExchangeMailbox(FileHandle disk, const MailboxSector& command, MailboxSector* reply);

bool SendCommand(FileHandle disk, std::uint32_t code, std::uint32_t parameter);
bool TransactCommand(FileHandle disk, std::uint32_t code, std::uint32_t parameter,
                     std::uint32_t* status, std::uint32_t* value);
// True when the calculator accepted the progress command within 6 attempts.
bool SendProgress(FileHandle disk, std::uint32_t percent);
bool SendFinish(FileHandle disk);
