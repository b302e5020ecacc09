// Finding the calculator disks among the host's disk interfaces, and opening them.
#pragma once

#include "device/engine.h"

// Units of an id token, terminator included: ids give at most 31 characters.
constexpr int kIdTokenChars = 32;

using DiskPathTable = WChar (*)[kDiskPathChars];

// The lower-case token of an id ("KZ" gives "kz", "Zenta update" gives "zenta_update"). Gives its
// length, or -1 when it does not fit `capacity` units; then nothing can match it.
int MakeIdToken(WChar* destination, int capacity, const WChar* id);

// True when path holds pattern as whole id tokens: the match is followed by the path's next
// separator ('&' or '#') or by its end, so that a longer product name never passes for it.
bool MatchesDiskPattern(const WChar* path, const WChar* pattern);

// One enumeration: copies into paths[0..] every disk interface path that contains
// "\\?\usbstor#disk&ven_<vendor token>&prod_<product token>" (MatchesDiskPattern), in
// enumeration order, up to limit.
// Gives how many were stored.
int FindCalculatorDisks(DiskPathTable paths, const WChar* vendorId, const WChar* productId,
                        int limit);

// Up to 6 enumerations, with a 500 ms pause after each empty one; 0 when all were empty.
int FindCalculatorDisksWithRetry(DiskPathTable paths, const WChar* vendorId, const WChar* productId,
                                 int limit);

// FindCalculatorDisksWithRetry up to kMaxDisks, keeping only the disks of `only` (every one when
// it is null); the search is repeated while none of them is there. An empty selection finds none
// without a search.
int FindSelectedDisksWithRetry(DiskPathTable paths, const WChar* vendorId, const WChar* productId,
                               const DiskSelection* only);

// Every calculator disk present, up to kListLimit, in a table of its own (one enumeration).
constexpr int kListLimit = 256;
struct DiskListing {
    DiskListing();
    ~DiskListing();
    DiskListing(const DiskListing&) = delete;
    DiskListing& operator=(const DiskListing&) = delete;
    int Find(const WChar* vendorId, const WChar* productId);
    bool Holds(const WChar* path) const;
    DiskPathTable paths; // null when there was no memory: then it finds none
    int count = 0;
};

// Opens g_diskPaths[0..g_diskCount-1] into g_diskHandles; a failed open leaves kInvalidHandle.
// Gives how many opened.
int OpenCalculatorDisks();
void CloseCalculatorDisks();

// Fills a record's path, serial and node from a disk's interface path. The serial is the
// instance part, "abc123" of "...&rev_1.00#abc123&0#{...}", as the host spells it.
void DescribeDisk(const WChar* path, DiskResult* disk);
