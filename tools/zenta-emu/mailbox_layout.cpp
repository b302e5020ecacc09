// The mailbox sector's bytes: commands decoded and encoded, replies encoded.
#include "mailbox_layout.h"

#include <cstring>

namespace {

constexpr unsigned char kSignature[4] = {'K', 'L', 'V', 'D'};

void WriteHeader(unsigned char* sector)
{
    std::memset(sector, 0, kSectorSize);
    WriteLe32(sector, kMailboxMagic);
    std::memcpy(sector + 4, kSignature, 4);
    WriteLe32(sector + 8, static_cast<std::uint32_t>(kSectorSize));
}

} // namespace

std::uint32_t ReadLe32(const unsigned char* bytes)
{
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
           std::uint32_t(bytes[3]) << 24;
}

void WriteLe32(unsigned char* bytes, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::optional<MailboxCommand> DecodeCommand(const unsigned char* sector)
{
    if (ReadLe32(sector) != kMailboxMagic || std::memcmp(sector + 4, kSignature, 4) != 0 ||
        ReadLe32(sector + 8) != kSectorSize)
        return std::nullopt;
    return MailboxCommand{ReadLe32(sector + 12), ReadLe32(sector + 16)};
}

void EncodeReply(unsigned char* sector, std::uint32_t status, std::uint32_t value)
{
    WriteHeader(sector);
    WriteLe32(sector + 12, status);
    WriteLe32(sector + 16, value);
}

void EncodeCommand(unsigned char* sector, const MailboxCommand& command)
{
    WriteHeader(sector);
    WriteLe32(sector + 12, command.code);
    WriteLe32(sector + 16, command.parameter);
}
