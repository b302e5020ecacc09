// The engine's process-wide tables. Only the three engine entries touch them, each holding
// g_engineLock for its whole length; transfer threads get their own copies of what they need.
#pragma once

#include "device/engine.h"
#include "device/host.h"

#include <mutex>

extern WChar g_diskPaths[kMaxDisks][kDiskPathChars];
extern FileHandle g_diskHandles[kMaxDisks];
extern int g_diskCount;

extern ProgressCallback g_progressCallback;
extern MessageCallback g_messageCallback;

extern std::mutex g_engineLock;

// Why each disk of g_diskHandles did not open (kind None for one that did).
extern HostError g_diskOpenErrors[kMaxDisks];

// The path of an open disk of the table; nullptr for another handle. Safe on the transfer
// threads: the table does not change while they run.
const WChar* DiskPathOf(FileHandle disk);

// One line to the engine's log, if one is set: the text, then ": " and the reason.
void LogDiskFailure(const WChar* diskPath, const char* what, const HostError& why);
