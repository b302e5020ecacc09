// Finding the calculator disks by their interface paths, and opening and closing them.
#include "device/discovery.h"

#include "device/engine_state.h"
#include "device/host.h"
#include "device/text16.h"

#include <algorithm>
#include <new>

namespace {

constexpr int kPatternChars = 128;
constexpr int kSearchAttempts = 6;
constexpr int kSearchPauseMs = 500;

// Appends ASCII text; the callers size the buffer so that it always fits.
int AppendAscii(WChar* destination, int at, const char* text)
{
    while (*text != 0)
        destination[at++] = static_cast<WChar>(*text++);
    return at;
}

int AppendText(WChar* destination, int at, const WChar* text)
{
    while (*text != 0)
        destination[at++] = *text++;
    return at;
}

// "\\?\usbstor#disk&ven_<vendor>&prod_<product>"; false when an id does not make a token.
bool MakePattern(WChar* pattern, const WChar* vendorId, const WChar* productId)
{
    WChar vendor[kIdTokenChars];
    WChar product[kIdTokenChars];
    if (MakeIdToken(vendor, kIdTokenChars, vendorId) < 0 ||
        MakeIdToken(product, kIdTokenChars, productId) < 0)
        return false;
    int n = AppendAscii(pattern, 0, "\\\\?\\usbstor#disk&ven_");
    n = AppendText(pattern, n, vendor);
    n = AppendAscii(pattern, n, "&prod_");
    n = AppendText(pattern, n, product);
    pattern[n] = 0;
    return true;
}

// The instance part of "<bus>#<device>#<instance>&<lun>#<class>", without its "&<lun>".
void SerialOf(const WChar* path, WChar* serial, int capacity)
{
    serial[0] = 0;
    const WChar* start = path;
    for (int field = 0; field < 2 && start != nullptr; ++field) {
        while (*start != 0 && *start != WChar('#'))
            ++start;
        start = *start != 0 ? start + 1 : nullptr;
    }
    if (start == nullptr)
        return;
    const WChar* end = start;
    const WChar* lastAmpersand = nullptr;
    for (; *end != 0 && *end != WChar('#'); ++end) {
        if (*end == WChar('&'))
            lastAmpersand = end;
    }
    if (lastAmpersand != nullptr)
        end = lastAmpersand;
    const int length = static_cast<int>(end - start);
    if (length >= capacity)
        return; // a serial that does not fit is left out rather than cut
    std::copy(start, end, serial);
    serial[length] = 0;
}

} // namespace

void DescribeDisk(const WChar* path, DiskResult* disk)
{
    Copy16(disk->devicePath, kDiskPathChars, path);
    SerialOf(path, disk->serial, kDiskNameChars);
    CurrentHost().DiskNode(path, disk->node, kDiskNameChars);
}

DiskListing::DiskListing() : paths(new (std::nothrow) WChar[kListLimit][kDiskPathChars]) {}

DiskListing::~DiskListing()
{
    delete[] paths;
}

int DiskListing::Find(const WChar* vendorId, const WChar* productId)
{
    count = paths != nullptr ? FindCalculatorDisks(paths, vendorId, productId, kListLimit) : 0;
    return count;
}

bool DiskListing::Holds(const WChar* path) const
{
    for (int i = 0; i < count; ++i) {
        if (Equal16(paths[i], path))
            return true;
    }
    return false;
}

bool SelectDisk(DiskSelection* selection, const WChar* path)
{
    if (selection->count >= kMaxDisks ||
        !Copy16(selection->paths[selection->count], kDiskPathChars, path))
        return false;
    ++selection->count;
    return true;
}

int ListCalculatorDisks(const WChar* vendorId, const WChar* productId, DiskResult* disks,
                        int capacity, bool open)
{
    std::lock_guard<std::mutex> lock(g_engineLock);
    DiskListing listing;
    const int found = listing.Find(vendorId, productId);
    Host& host = CurrentHost();
    for (int i = 0; i < found && i < capacity; ++i) {
        DescribeDisk(listing.paths[i], &disks[i]);
        const FileHandle disk = open ? host.OpenDisk(listing.paths[i]) : kInvalidHandle;
        disks[i].result = disk != kInvalidHandle || !open ? kResultOk : kResultDiskNotOpen;
        disks[i].size = disk != kInvalidHandle ? host.Size(disk) : -1;
        if (disk != kInvalidHandle)
            host.Close(disk);
    }
    return found;
}

int MakeIdToken(WChar* destination, int capacity, const WChar* id)
{
    const int n = Length16(id);
    if (n >= capacity)
        return -1;
    for (int i = 0; i < n; ++i) {
        const WChar unit = static_cast<WChar>(id[i] | 0x20);
        destination[i] = unit == 0x20 ? WChar('_') : unit;
    }
    destination[n] = 0;
    return n;
}

bool MatchesDiskPattern(const WChar* path, const WChar* pattern)
{
    const int length = Length16(pattern);
    for (const WChar* at = Find16(path, pattern); at != nullptr; at = Find16(at + 1, pattern)) {
        const WChar next = at[length];
        if (next == 0 || next == WChar('&') || next == WChar('#'))
            return true;
    }
    return false;
}

int FindCalculatorDisks(DiskPathTable paths, const WChar* vendorId, const WChar* productId,
                        int limit)
{
    WChar pattern[kPatternChars];
    if (limit <= 0 || !MakePattern(pattern, vendorId, productId))
        return 0;
    Host& host = CurrentHost();
    void* list = host.BeginDiskInterfaces();
    if (list == nullptr)
        return 0;
    int found = 0;
    WChar path[kDiskPathChars];
    for (int index = 0; found < limit; ++index) {
        const InterfaceStatus status = host.DiskInterfacePath(list, index, path, kDiskPathChars);
        if (status == InterfaceStatus::End)
            break;
        // A path too long for a slot is passed over, never cut (see Copy16).
        if (status != InterfaceStatus::Ok || !MatchesDiskPattern(path, pattern))
            continue;
        if (Copy16(paths[found], kDiskPathChars, path))
            ++found;
    }
    host.EndDiskInterfaces(list);
    return found;
}

int FindCalculatorDisksWithRetry(DiskPathTable paths, const WChar* vendorId, const WChar* productId,
                                 int limit)
{
    for (int attempt = 1;; ++attempt) {
        const int found = FindCalculatorDisks(paths, vendorId, productId, limit);
        if (found != 0)
            return found;
        CurrentHost().Sleep(kSearchPauseMs);
        if (attempt == kSearchAttempts)
            return 0;
    }
}

int FindSelectedDisksWithRetry(DiskPathTable paths, const WChar* vendorId, const WChar* productId,
                               const DiskSelection* only)
{
    if (only == nullptr)
        return FindCalculatorDisksWithRetry(paths, vendorId, productId, kMaxDisks);
    if (only->count <= 0)
        return 0;
    DiskListing listing;
    for (int attempt = 1;; ++attempt) {
        // Every disk is listed, not the first kMaxDisks: a selected one may come after others.
        listing.Find(vendorId, productId);
        int found = 0;
        for (int i = 0; i < listing.count && found < kMaxDisks; ++i) {
            for (int j = 0; j < only->count; ++j) {
                if (Equal16(listing.paths[i], only->paths[j])) {
                    Copy16(paths[found++], kDiskPathChars, listing.paths[i]);
                    break;
                }
            }
        }
        if (found != 0)
            return found;
        CurrentHost().Sleep(kSearchPauseMs);
        if (attempt == kSearchAttempts)
            return 0;
    }
}

int OpenCalculatorDisks()
{
    Host& host = CurrentHost();
    int opened = 0;
    for (int i = 0; i < g_diskCount; ++i) {
        g_diskHandles[i] = host.OpenDisk(g_diskPaths[i]);
        g_diskOpenErrors[i] = g_diskHandles[i] != kInvalidHandle ? HostError{} : host.OpenError();
        if (g_diskHandles[i] != kInvalidHandle)
            ++opened;
        else
            LogDiskFailure(g_diskPaths[i], "not opened (a transfer to it ends with 107)",
                           g_diskOpenErrors[i]);
    }
    return opened;
}

void CloseCalculatorDisks()
{
    Host& host = CurrentHost();
    for (int i = 0; i < g_diskCount; ++i) {
        if (g_diskHandles[i] != kInvalidHandle)
            host.Close(g_diskHandles[i]);
        // Nothing may use a closed handle again, even by mistake.
        g_diskHandles[i] = kInvalidHandle;
    }
}

bool IsCalculatorConnected(const WChar* vendorId, const WChar* productId)
{
    std::lock_guard<std::mutex> lock(g_engineLock);
    return FindCalculatorDisks(g_diskPaths, vendorId, productId, kMaxDisks) != 0;
}
