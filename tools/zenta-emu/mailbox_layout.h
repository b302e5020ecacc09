// What the calculator's update firmware knows of the host's mailbox sector: a command written
// there is taken as a command, and the next read of the sector gives the reply.
#pragma once

#include <cstdint>
#include <optional>

constexpr std::uint64_t kSectorSize = 512;
constexpr std::uint64_t kMailboxOffset = 87040; // sector 170
constexpr std::uint32_t kMailboxMagic = 0xAA5555AA;
constexpr std::uint32_t kReplyFlag = 0x80000000;
constexpr std::uint32_t kCmdProgress = 0xBEDC;
constexpr std::uint32_t kCmdFinish = 0xBEC1;

struct MailboxCommand {
    std::uint32_t code = 0;
    std::uint32_t parameter = 0;
};

std::uint32_t ReadLe32(const unsigned char* bytes);
void WriteLe32(unsigned char* bytes, std::uint32_t value);

// A 512-byte sector that carries the magic, "KLVD" and the length 512 is a command; anything
// else written there is data.
std::optional<MailboxCommand> DecodeCommand(const unsigned char* sector);

// The sector the host reads back: the same header, the status at 12 and a value at 16.
void EncodeReply(unsigned char* sector, std::uint32_t status, std::uint32_t value);

// The command sector as the host writes it; used to check the decoder against the host's form.
void EncodeCommand(unsigned char* sector, const MailboxCommand& command);
