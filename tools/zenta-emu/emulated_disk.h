// The disks the emulator serves: what every one of them answers, and a plain disk that is not a
// calculator.
#pragma once

#include "sparse_image.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

// A disk the emulator serves: the FUSE layer hands every request of the kernel to one of these.
// Requests may come from several kernel threads at once.
class EmulatedDisk {
public:
    virtual ~EmulatedDisk() = default;
    virtual std::uint64_t Size() const = 0;
    // 0, or a negative errno that the kernel passes on to the updater.
    virtual int Read(std::uint64_t offset, std::uint64_t length, unsigned char* out) = 0;
    virtual int Write(std::uint64_t offset, std::uint64_t length, const unsigned char* in) = 0;

    // Bytes per second the disk moves at most; 0 is as fast as it can.
    void SetBandwidth(std::uint64_t bytesPerSecond) { bytesPerSecond_ = bytesPerSecond; }
    // Waits until the link has carried the bytes of a request, as a USB link would.
    void Pace(std::uint64_t bytes);

private:
    std::mutex paceMutex_;
    std::uint64_t bytesPerSecond_ = 0;
    std::chrono::steady_clock::time_point linkFree_{};
};

// A disk that is not a calculator: it stores what it is given and counts it. The updater must
// never write to it.
class PlainDisk : public EmulatedDisk {
public:
    PlainDisk(std::uint64_t size, std::uint64_t seed) : image_(size, seed) {}
    std::uint64_t Size() const override { return image_.Size(); }
    int Read(std::uint64_t offset, std::uint64_t length, unsigned char* out) override;
    int Write(std::uint64_t offset, std::uint64_t length, const unsigned char* in) override;

    std::uint64_t Reads() const;
    std::uint64_t Writes() const;
    // True when every byte is what it was: nothing was ever stored.
    bool Unchanged() const;

private:
    mutable std::mutex mutex_;
    SparseImage image_;
    std::uint64_t reads_ = 0;
    std::uint64_t writes_ = 0;
};
