// Estimating the time left for the file being written.
#include "ui/time_left.h"

namespace {

// Too little progress or time tells nothing yet (the first chunks include opening the disks).
constexpr int kMinimumPercents = 2;
constexpr std::int64_t kMinimumMs = 2000;

} // namespace

void TimeLeft::reset()
{
    startPercent_ = -1;
    percent_ = -1;
}

void TimeLeft::report(int percent, std::int64_t nowMs)
{
    // The shown percentage never goes back within a file: one that does starts another.
    if (startPercent_ < 0 || percent < percent_) {
        startPercent_ = percent;
        startMs_ = nowMs;
    }
    percent_ = percent;
    lastMs_ = nowMs;
}

int TimeLeft::secondsLeft() const
{
    if (startPercent_ < 0 || percent_ >= 100)
        return -1;
    const int done = percent_ - startPercent_;
    const std::int64_t elapsed = lastMs_ - startMs_;
    if (done < kMinimumPercents || elapsed < kMinimumMs)
        return -1;
    const std::int64_t leftMs = elapsed * (100 - percent_) / done;
    return int((leftMs + 999) / 1000);
}

QString formatDuration(int seconds)
{
    const int hours = seconds / 3600;
    const int minutes = seconds / 60 % 60;
    const int rest = seconds % 60;
    if (hours > 0)
        return QString("%1:%2:%3")
            .arg(hours)
            .arg(minutes, 2, 10, QChar('0'))
            .arg(rest, 2, 10, QChar('0'));
    return QString("%1:%2").arg(minutes).arg(rest, 2, 10, QChar('0'));
}
