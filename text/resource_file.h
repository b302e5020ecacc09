// The text resource files of a registry: each language's file opened once, and what it holds
// read from it when first needed.
#pragma once

#include "text/resource_format.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// One opened text resource file: its header (language list completed) and, once first
// needed, its code tree and directory. Records live in their registry's `loadedFiles`.
struct ResourceFile {
    QString name; // base name, e.g. "HelpFr"
    ResourceHeader header;
    int language = 0; // the language the file was opened for
    std::vector<uint8_t> codeTree;
    bool treeRead = false;
    std::vector<DirectoryEntry> directory;
    bool directoryRead = false;
};

// The bytes [start, end) of "resource:" + baseName + ".kzresource", with `end` clipped to the
// file's size: empty when the file is missing or no regular file, the range is empty or negative,
// or the read fails. The file is opened and closed by every call.
std::vector<uint8_t> readResourceRange(const QString& baseName, int32_t start, int32_t end);

// A new record for a file whose header is accepted; nullptr when the file is missing or its
// header is not accepted. Neither the code tree nor the directory is read yet.
std::unique_ptr<ResourceFile> loadResourceFile(const QString& baseName);

// The files opened so far and the languages whose file failed to open; each language's file
// is looked for on disk once in the registry's life, a failure included.
struct ResourceRegistry {
    std::vector<std::unique_ptr<ResourceFile>> loadedFiles;
    std::vector<int> failedLanguages;
};

// The file of a language, opened at most once per registry (a failure is remembered too);
// nullptr for a language without a code or whose file fails to open.
ResourceFile* openResourceFile(ResourceRegistry* registry, int language);

// The file's code tree, read once whole; nullptr for a plain file (treeSize 0) and for a tree
// that cannot be read whole, which is tried again on the next call.
const std::vector<uint8_t>* codeTree(ResourceFile* file);

// The directory entry of a table, or nullptr. A directory that cannot be read whole gives
// nullptr and is read again on the next call.
const DirectoryEntry* findTable(ResourceFile* file, int32_t tableNumber);

// The table's data bytes; false when they cannot all be read.
bool readTable(const ResourceFile& file, const DirectoryEntry& entry, std::vector<uint8_t>* data);
