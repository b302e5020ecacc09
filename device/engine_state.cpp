// The engine's process-wide tables, guarded by the engine lock.
#include "device/engine_state.h"

#include "device/text16.h"

#include <atomic>
#include <string>

WChar g_diskPaths[kMaxDisks][kDiskPathChars];
FileHandle g_diskHandles[kMaxDisks];
int g_diskCount = 0;

ProgressCallback g_progressCallback = nullptr;
MessageCallback g_messageCallback = nullptr;

std::mutex g_engineLock;

HostError g_diskOpenErrors[kMaxDisks];

static std::atomic<EngineLogCallback> g_engineLog{nullptr};

void SetEngineLog(EngineLogCallback log)
{
    g_engineLog = log;
}

const WChar* DiskPathOf(FileHandle disk)
{
    for (int i = 0; disk != kInvalidHandle && i < g_diskCount; ++i) {
        if (g_diskHandles[i] == disk)
            return g_diskPaths[i];
    }
    return nullptr;
}

void LogDiskFailure(const WChar* diskPath, const char* what, const HostError& why)
{
    const EngineLogCallback log = g_engineLog;
    if (log == nullptr)
        return;
    std::string path;
    if (diskPath == nullptr || !Utf16ToUtf8(diskPath, &path))
        path = "?";
    char reason[160];
    FormatHostError(why, reason, sizeof reason);
    log(("calculator disk " + path + ": " + what + ": " + reason).c_str());
}
