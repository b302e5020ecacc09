// The emulated disks as the files of one FUSE mount.
#pragma once

#include "emulated_disk.h"

#include <map>
#include <string>
#include <thread>

struct fuse;

// Serves each emulated disk as one file of a FUSE mount. The files are opened for direct I/O
// only: a command sector must reach the calculator every time, and its reply must come from it,
// never from a page cache.
class FuseDisks {
public:
    FuseDisks() = default;
    FuseDisks(const FuseDisks&) = delete;
    FuseDisks& operator=(const FuseDisks&) = delete;
    ~FuseDisks() { Unmount(); }

    // Before the mount: reads and writes that are not whole 512-byte sectors at a sector's
    // offset fail with EINVAL, as Windows fails them on an unbuffered disk handle (Wine, which
    // serves a Windows program, does not).
    void RequireWholeSectors() { wholeSectors_ = true; }
    bool WholeSectors() const { return wholeSectors_; }
    // Every disk is added before the mount; the set does not change afterwards.
    void Add(const std::string& name, EmulatedDisk* disk) { disks_[name] = disk; }
    bool Mount(const std::string& mountPoint, std::string* error);
    void Unmount();
    std::string PathOf(const std::string& name) const { return mountPoint_ + "/" + name; }

    // The disk behind a path of the mount ("/name"), or nullptr.
    EmulatedDisk* Find(const char* path) const;
    const std::map<std::string, EmulatedDisk*>& Disks() const { return disks_; }
    // Requests served at once: two per disk (a write and its flush) and some for lookups.
    unsigned Workers() const { return 2 * static_cast<unsigned>(disks_.size()) + 8; }

private:
    std::map<std::string, EmulatedDisk*> disks_;
    std::string mountPoint_;
    bool wholeSectors_ = false;
    struct fuse* fuse_ = nullptr;
    std::thread loop_;
};
