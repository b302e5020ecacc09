#pragma once

#include "device/host.h"
#include "device/text16.h"

#include <string>
#include <vector>

// One list of contract cases (device/host.h) run over every host: each host's runner gives the
// suite a factory for the files and the disk it needs. Plain C++, so that the Windows host can
// run it under Wine, where there is no Qt.

// A disk that the host lists now, for the cases that need one.
struct ContractDisk {
    String16 path;     // as the host lists it; empty when none can be had here
    std::int64_t size; // in bytes, at least 64 KiB; -1 when the system cannot tell it here
    std::string why;   // when there is none: why
};

class HostContractFactory {
public:
    virtual ~HostContractFactory() = default;
    virtual const char* Name() const = 0;
    virtual Host& TheHost() = 0;
    // A new source file holding `bytes`: its path in the host's spelling.
    virtual String16 MakeSourceFile(const std::vector<unsigned char>& bytes) = 0;
    // A path where no file is.
    virtual String16 MissingFile() = 0;
    // The disk, listed by an enumeration that ran just before this returns.
    virtual ContractDisk Disk() = 0;
    // Makes another program hold the disk (hold) or let it go; false when this host cannot.
    virtual bool HoldDisk(bool hold) = 0;
};

// Runs the cases whose name contains `only` (all when it is empty), prints one line per case
// and a closing "N passed, N failed, N skipped" line; gives the number of failed cases.
int RunHostContract(HostContractFactory& factory, const std::string& only);
