// The update folder the updater is started with: three firmware files of one generation.
#pragma once

#include "calculator.h"
#include "scenario.h"

#include <string>
#include <vector>

enum class Generation { New, Legacy };

// Where the updater puts a file of this name (any letter case); 0 for names it does not know.
std::uint64_t DiskOffsetFor(const std::string& name);

// Writes the three files with contents of their own, and gives what each must become on the
// calculator. Empty on failure, with the reason in *error.
std::vector<FileRegion> MakeUpdateFolder(const std::string& folder, Generation generation,
                                         const FolderSizes& sizes, std::string* error);

// Makes a folder of the given entries; gives what each file of an accepted name must become.
std::vector<FileRegion> MakeFolderEntries(const std::string& folder,
                                          const std::vector<FolderEntry>& entries,
                                          std::string* error);

// Changes a file of the folder as the scenario says; false when that failed.
bool ChangeSource(const std::string& folder, const SourceChange& change, std::string* error);

// The files of an existing folder whose names the updater accepts.
std::vector<FileRegion> ReadUpdateFolder(const std::string& folder, std::string* error);
