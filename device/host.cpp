// The host the engine runs on: the platform's own unless a test set another.
#include "device/host.h"

#include "device/engine.h"

#include <atomic>

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
