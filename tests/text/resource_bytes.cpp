#include "resource_bytes.h"

#include <QDir>
#include <QFile>
#include <map>

void patchLe32(std::vector<uint8_t>* bytes, size_t at, uint32_t value)
{
    for (size_t i = 0; i < 4; ++i)
        (*bytes)[at + i] = uint8_t(value >> (8 * i));
}

namespace {
void appendLe32(std::vector<uint8_t>* bytes, uint32_t value)
{
    bytes->resize(bytes->size() + 4);
    patchLe32(bytes, bytes->size() - 4, value);
}
} // namespace

size_t directoryAt(const TestResource& resource)
{
    return kTestTreeAt + resource.tree.size();
}

std::vector<uint8_t> TestResource::bytes() const
{
    std::vector<uint8_t> out(kHeaderSize, 0);
    patchLe32(&out, kHeaderMagicAt, magic);
    patchLe32(&out, kHeaderFormatIdAt, formatId);
    patchLe32(&out, kHeaderLevelAt, formatLevel);
    for (int slot = 0; slot < kLanguageSlots; ++slot)
        patchLe32(&out, kHeaderLanguagesAt + 4 * size_t(slot), uint32_t(languages[slot]));
    const size_t dirAt = directoryAt(*this);
    patchLe32(&out, kHeaderTreeOffsetAt, uint32_t(kTestTreeAt));
    patchLe32(&out, kHeaderTreeSizeAt, uint32_t(tree.size()));
    patchLe32(&out, kHeaderDirCountAt, uint32_t(tables.size()));
    patchLe32(&out, kHeaderDirOffsetAt, uint32_t(dirAt));
    patchLe32(&out, kHeaderDataBaseAt, uint32_t(dirAt + kDirectoryEntrySize * tables.size()));
    out.insert(out.end(), tree.begin(), tree.end());
    std::vector<uint8_t> data;
    for (const TestTable& table : tables) {
        appendLe32(&out, uint32_t(table.number) | uint32_t(table.lastIndex) << 23);
        appendLe32(&out, uint32_t(data.size()));
        appendLe32(&out, uint32_t(table.data.size()));
        data.insert(data.end(), table.data.begin(), table.data.end());
    }
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

TestTable plainTable(int32_t number, const std::vector<std::u16string>& strings)
{
    TestTable table;
    table.number = number;
    table.lastIndex = strings.empty() ? 0 : int32_t(strings.size()) - 1;
    for (const std::u16string& text : strings) {
        for (const char16_t unit : text) {
            table.data.push_back(uint8_t(unit & 0xFF));
            table.data.push_back(uint8_t(unit >> 8));
        }
        table.data.push_back(0);
        table.data.push_back(0);
    }
    return table;
}

TestTable plainTableOfIds(const std::vector<std::pair<int, std::u16string>>& texts)
{
    std::vector<std::u16string> strings;
    for (const auto& [id, text] : texts) {
        const size_t index = size_t(id % kTableStrings);
        if (strings.size() <= index)
            strings.resize(index + 1);
        strings[index] = text;
    }
    return plainTable(texts.empty() ? 0 : texts.front().first / kTableStrings, strings);
}

std::vector<uint8_t> plainFile(const std::vector<int32_t>& languages,
                               const std::vector<std::pair<int, std::u16string>>& texts)
{
    TestResource resource;
    for (size_t slot = 0; slot < languages.size() && slot < size_t(kLanguageSlots); ++slot)
        resource.languages[slot] = languages[slot];
    std::map<int, std::vector<std::pair<int, std::u16string>>> byTable;
    for (const auto& text : texts)
        byTable[text.first / kTableStrings].push_back(text);
    for (const auto& entry : byTable)
        resource.tables.push_back(plainTableOfIds(entry.second));
    return resource.bytes();
}

ResourceFolder::ResourceFolder()
{
    QDir::setSearchPaths(QStringLiteral("resource"), {dir_.path()});
}

QString ResourceFolder::path(const QString& baseName) const
{
    return dir_.filePath(baseName + QStringLiteral(".kzresource"));
}

bool ResourceFolder::write(const QString& baseName, const std::vector<uint8_t>& bytes) const
{
    QFile file(path(baseName));
    return file.open(QIODevice::WriteOnly) &&
           file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) ==
               qint64(bytes.size());
}

bool ResourceFolder::remove(const QString& baseName) const
{
    return QFile::remove(path(baseName));
}

QString fromUtf16(const char16_t* text)
{
    // Not QString::fromUtf16, which would take a leading U+FEFF for a byte-order mark.
    return text == nullptr ? QString()
                           : QString(reinterpret_cast<const QChar*>(text),
                                     int(std::char_traits<char16_t>::length(text)));
}
