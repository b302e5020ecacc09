#pragma once

#include <QString>

#include <cstdint>

// The time left for the file being written, from the progress of the slowest calculator: the
// rate since the file's first report, once enough of it has gone by to be worth a guess.
class TimeLeft {
public:
    // A new file (or a new attempt) starts: what was measured so far no longer holds.
    void reset();
    // The shown percentage at `nowMs` of a steady clock.
    void report(int percent, std::int64_t nowMs);
    // Whole seconds left, rounded up; -1 while it cannot be estimated.
    int secondsLeft() const;

private:
    int startPercent_ = -1;
    std::int64_t startMs_ = 0;
    int percent_ = -1;
    std::int64_t lastMs_ = 0;
};

// "m:ss", or "h:mm:ss" from an hour on.
QString formatDuration(int seconds);
