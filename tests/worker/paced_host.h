#pragma once

#include "device/testhost/test_host.h"

#include <QThread>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

// Installs a TestHost for one test and paces the other threads by it. A pause on any thread but
// the GUI thread takes no time, but returns only when the GUI thread has handled every queued
// call posted before it: a worker "sleeping" 500 ms thus gives the GUI the turn it would have
// had in real time, and the order of events stays that of a real run.
class PacedHost {
public:
    PacedHost();
    ~PacedHost();
    PacedHost(const PacedHost&) = delete;
    PacedHost& operator=(const PacedHost&) = delete;

    TestHost& host() { return host_; }

    // Runs first at every pause, on the pausing thread (it may throw, as a failing step would).
    // Set it before the threads start.
    std::function<void(int ms)> beforeSleep;

    // From here on pauses no longer wait for the GUI thread, so that threads can be joined.
    void release() { released_ = true; }

    // Pauses of one length taken so far, on any thread.
    int pausesOf(int ms) const;

private:
    // A pause that `wake` may cut short also stops waiting for the GUI thread once it is set.
    void pace(int ms, const std::atomic<bool>* wake);

    TestHost host_;
    std::atomic<bool> released_{false};
};

// A source file of the test host whose bytes follow from its size.
std::vector<unsigned char> fileBytes(std::int64_t size);
