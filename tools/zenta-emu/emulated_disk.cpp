// The link's pace of an emulated disk, and the plain disk that only stores and counts.
#include "emulated_disk.h"

#include <thread>

void EmulatedDisk::Pace(std::uint64_t bytes)
{
    std::chrono::steady_clock::time_point done;
    {
        std::lock_guard<std::mutex> lock(paceMutex_);
        if (bytesPerSecond_ == 0)
            return;
        const auto now = std::chrono::steady_clock::now();
        const auto start = linkFree_ > now ? linkFree_ : now;
        const auto busy = std::chrono::nanoseconds(bytes * 1000000000ull / bytesPerSecond_);
        linkFree_ = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(busy);
        done = linkFree_;
    }
    std::this_thread::sleep_until(done);
}

int PlainDisk::Read(std::uint64_t offset, std::uint64_t length, unsigned char* out)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++reads_;
    image_.Read(offset, length, out);
    return 0;
}

int PlainDisk::Write(std::uint64_t offset, std::uint64_t length, const unsigned char* in)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++writes_;
    image_.Write(offset, length, in);
    return 0;
}

std::uint64_t PlainDisk::Reads() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return reads_;
}

std::uint64_t PlainDisk::Writes() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
}

bool PlainDisk::Unchanged() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return image_.AllocatedBytes() == 0;
}
