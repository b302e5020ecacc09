// A loop device over one of the emulator's disk files.
#pragma once

#include <string>

// A loop device over one of the emulator's disk files, so that the updater does its raw I/O on a
// real kernel block device. Direct I/O: no page cache between a command and its reply. It
// detaches by itself once the emulator and the updater have both closed it, so that not even a
// killed emulator leaves it behind.
class LoopDevice {
public:
    LoopDevice() = default;
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    ~LoopDevice() { Release(); }

    bool Attach(const std::string& file, std::string* error);
    // Lets go of it: the kernel detaches it when its last user closes it.
    void Release();

    const std::string& Node() const { return node_; }
    unsigned Major() const { return major_; }
    unsigned Minor() const { return minor_; }

private:
    int fd_ = -1;
    std::string node_;
    unsigned major_ = 0;
    unsigned minor_ = 0;
};
