// The engine's process-wide tables, guarded by the engine lock.
#include "device/engine_state.h"

WChar g_diskPaths[kMaxDisks][kDiskPathChars];
FileHandle g_diskHandles[kMaxDisks];
int g_diskCount = 0;

ProgressCallback g_progressCallback = nullptr;
MessageCallback g_messageCallback = nullptr;

std::mutex g_engineLock;
