#pragma once

#include "device/engine.h"

#include <mutex>

// The engine's process-wide tables. Only the three engine entries touch them, each holding
// g_engineLock for its whole length; transfer threads get their own copies of what they need.

extern WChar g_diskPaths[kMaxDisks][kDiskPathChars];
extern FileHandle g_diskHandles[kMaxDisks];
extern int g_diskCount;

extern ProgressCallback g_progressCallback;
extern MessageCallback g_messageCallback;

extern std::mutex g_engineLock;
