#pragma once

#include "calculator.h"

#include <string>
#include <vector>

// The update folder the updater is started with: three firmware files of one generation.

enum class Generation { New, Legacy };

struct FolderSizes {
    std::uint64_t os = 0;     // written at 0, so it also covers the mailbox sector
    std::uint64_t kestol = 0; // written at 1 MiB
    std::uint64_t app = 0;    // written at 5 MiB
};

// Where the updater puts a file of this name (any letter case); 0 for names it does not know.
std::uint64_t DiskOffsetFor(const std::string& name);

// Writes the three files with contents of their own, and gives what each must become on the
// calculator. Empty on failure, with the reason in *error.
std::vector<FileRegion> MakeUpdateFolder(const std::string& folder, Generation generation,
                                         const FolderSizes& sizes, std::string* error);

// The files of an existing folder whose names the updater accepts.
std::vector<FileRegion> ReadUpdateFolder(const std::string& folder, std::string* error);
