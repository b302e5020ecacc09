// What a text resource file holds, read as it is needed: the header when it opens, the code
// tree and the directory once each, a table's bytes when asked for.
#include "text/resource_file.h"

#include "text/languages.h"
#include "text/regular_file.h"

#include <QFile>
#include <algorithm>

namespace {

QString resourcePath(const QString& baseName)
{
    return QStringLiteral("resource:") + baseName + QStringLiteral(".kzresource");
}

// A range read whose count is not the one asked for is no use to any caller.
bool readExactly(const QString& baseName, int32_t start, int32_t end, std::vector<uint8_t>* out)
{
    *out = readResourceRange(baseName, start, end);
    if (int64_t(out->size()) == int64_t(end) - start)
        return true;
    out->clear();
    return false;
}

} // namespace

std::vector<uint8_t> readResourceRange(const QString& baseName, int32_t start, int32_t end)
{
    std::vector<uint8_t> bytes;
    QFile file;
    if (start < 0 || !openRegularFile(resourcePath(baseName), &file))
        return bytes;
    // Clipping to the file's size bounds every allocation by what the file can hold.
    const qint64 clippedEnd = std::min<qint64>(end, file.size());
    if (start >= clippedEnd || !file.seek(start))
        return bytes;
    bytes.resize(size_t(clippedEnd - start));
    const qint64 got = file.read(reinterpret_cast<char*>(bytes.data()), qint64(bytes.size()));
    bytes.resize(got > 0 ? size_t(got) : 0);
    return bytes;
}

std::unique_ptr<ResourceFile> loadResourceFile(const QString& baseName)
{
    const std::vector<uint8_t> bytes = readResourceRange(baseName, 0, kHeaderSize);
    auto file = std::make_unique<ResourceFile>();
    if (parseResourceHeader(bytes.data(), int32_t(bytes.size()), &file->header) != kHeaderOk)
        return nullptr;
    completeLanguageList(file->header.languages);
    file->name = baseName;
    return file;
}

ResourceFile* openResourceFile(ResourceRegistry* registry, int language)
{
    for (const auto& file : registry->loadedFiles) {
        if (file->language == language)
            return file.get();
    }
    std::vector<int>& failed = registry->failedLanguages;
    if (std::find(failed.begin(), failed.end(), language) != failed.end())
        return nullptr;
    const char* code = languageCode(language);
    std::unique_ptr<ResourceFile> file;
    if (code != nullptr)
        file = loadResourceFile(QStringLiteral("Help") + QLatin1String(code));
    if (!file) {
        failed.push_back(language);
        return nullptr;
    }
    file->language = language;
    registry->loadedFiles.push_back(std::move(file));
    return registry->loadedFiles.back().get();
}

const std::vector<uint8_t>* codeTree(ResourceFile* file)
{
    if (file->header.treeSize == 0)
        return nullptr;
    if (file->treeRead)
        return &file->codeTree;
    int32_t start = 0;
    int32_t end = 0;
    if (!treeRange(file->header, &start, &end) ||
        !readExactly(file->name, start, end, &file->codeTree))
        return nullptr;
    file->treeRead = true;
    return &file->codeTree;
}

const DirectoryEntry* findTable(ResourceFile* file, int32_t tableNumber)
{
    if (!file->directoryRead) {
        int32_t start = 0;
        int32_t end = 0;
        std::vector<uint8_t> bytes;
        if (!directoryRange(file->header, &start, &end) ||
            !readExactly(file->name, start, end, &bytes))
            return nullptr;
        file->directory = parseDirectory(bytes.data(), int32_t(bytes.size()));
        file->directoryRead = true;
    }
    return findDirectoryEntry(file->directory, tableNumber);
}

bool readTable(const ResourceFile& file, const DirectoryEntry& entry, std::vector<uint8_t>* data)
{
    int32_t start = 0;
    int32_t end = 0;
    data->clear();
    return tableRange(file.header, entry, &start, &end) && readExactly(file.name, start, end, data);
}
