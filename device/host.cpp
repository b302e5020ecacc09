// The host the engine runs on: the platform's own unless a test set another.
#include "device/host.h"

#include "device/engine.h"

#include <atomic>
#include <cstdio>

static std::atomic<Host*> g_host{nullptr};

Host& CurrentHost()
{
    Host* host = g_host.load(std::memory_order_acquire);
    return host != nullptr ? *host : NativeHost();
}

Host* SetHost(Host* host)
{
    Host* previous = g_host.exchange(host, std::memory_order_acq_rel);
    return previous != nullptr ? previous : &NativeHost();
}

void Host::SleepUnless(int milliseconds, const std::atomic<bool>& wake)
{
    constexpr int kNapMs = 10;
    for (int left = milliseconds; left > 0 && !wake; left -= kNapMs)
        Sleep(left < kNapMs ? left : kNapMs);
}

void HostSleep(int milliseconds)
{
    CurrentHost().Sleep(milliseconds);
}

// Seeks to offset, moves, and seeks back to where the handle was.
template <typename Move>
static bool MoveAt(Host& host, FileHandle file, std::int64_t offset, std::uint32_t* done, Move move)
{
    if (done != nullptr)
        *done = 0;
    const std::int64_t saved = host.Seek(file, 0, SeekFrom::Current);
    if (saved < 0 || offset < 0 || host.Seek(file, offset, SeekFrom::Start) != offset)
        return false;
    const bool moved = move();
    host.Seek(file, saved, SeekFrom::Start);
    return moved;
}

bool Host::ReadAt(FileHandle file, std::int64_t offset, void* buffer, std::uint32_t length,
                  std::uint32_t* done)
{
    return MoveAt(*this, file, offset, done, [&] { return Read(file, buffer, length, done); });
}

bool Host::WriteAt(FileHandle file, std::int64_t offset, const void* buffer, std::uint32_t length,
                   std::uint32_t* done)
{
    return MoveAt(*this, file, offset, done, [&] { return Write(file, buffer, length, done); });
}

bool Host::DiskNode(const WChar*, WChar* node, int capacity)
{
    if (node != nullptr && capacity > 0)
        node[0] = 0;
    return false;
}

HostError Host::OpenError()
{
    return {HostFailure::Other, 0};
}

HostError Host::LastError(FileHandle)
{
    return {HostFailure::Other, 0};
}

void FormatHostError(const HostError& error, char* text, int capacity)
{
    if (text == nullptr || capacity <= 0)
        return;
    const char* words = "no error";
    switch (error.kind) {
    case HostFailure::None:
        break;
    case HostFailure::Denied:
        words = "permission denied";
        break;
    case HostFailure::Busy:
        words = "busy: held by another program";
        break;
    case HostFailure::Gone:
        words = "gone: no such device or file";
        break;
    case HostFailure::NotListed:
        words = "not among the disks found";
        break;
    case HostFailure::BadArgument:
        words = "refused by the host: bad handle or argument";
        break;
    case HostFailure::Other:
        words = "failed";
        break;
    }
    if (error.code != 0)
        std::snprintf(text, static_cast<std::size_t>(capacity), "%s (system error %ld)", words,
                      error.code);
    else
        std::snprintf(text, static_cast<std::size_t>(capacity), "%s", words);
}
