// Ctrl-C, counted.
#include "interrupt.h"

#include <atomic>
#include <csignal>

namespace {

std::atomic<int> g_interrupts{0};
std::atomic<bool> g_requested{false}; // lock-free, as a signal handler needs

extern "C" void onInterrupt(int signal)
{
    g_interrupts.fetch_add(1);
    g_requested.store(true);
    std::signal(signal, onInterrupt); // where the handler is reset at each signal
}

} // namespace

void catchInterrupts()
{
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
}

int interruptCount()
{
    return g_interrupts.load();
}

const std::atomic<bool>& interruptRequested()
{
    return g_requested;
}
