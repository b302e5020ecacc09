#pragma once

#include "text/resource_format.h"

#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <string>
#include <vector>

// Builds resource files byte by byte, apart from kzres, so that any field can be set or damaged.
// Layout: header, tree at 328, directory right after it, then the table data (dataBase).
struct TestTable {
    int32_t number = 0;
    int32_t lastIndex = 0;
    std::vector<uint8_t> data;
};

struct TestResource {
    uint32_t magic = kResourceMagic;
    uint32_t formatId = kResourceFormatId;
    uint32_t formatLevel = kResourceMinLevel;
    int32_t languages[kLanguageSlots] = {};
    std::vector<uint8_t> tree; // empty: a plain file
    std::vector<TestTable> tables;

    std::vector<uint8_t> bytes() const;
};

constexpr size_t kTestTreeAt = kHeaderSize;

// Offset of the directory in TestResource::bytes(): right after the tree.
size_t directoryAt(const TestResource& resource);

// A plain table of these strings, each with its terminator.
TestTable plainTable(int32_t number, const std::vector<std::u16string>& strings);

// A table of up to 512 texts from ids of one table: the ids left out are empty strings.
TestTable plainTableOfIds(const std::vector<std::pair<int, std::u16string>>& texts);

void patchLe32(std::vector<uint8_t>* bytes, size_t at, uint32_t value);

// A folder registered as the "resource" search path; each test looks into it through a
// catalog of its own.
class ResourceFolder {
public:
    ResourceFolder();
    QString path(const QString& baseName) const;
    bool write(const QString& baseName, const std::vector<uint8_t>& bytes) const;
    bool remove(const QString& baseName) const;

private:
    QTemporaryDir dir_;
};

// A plain file for a language with these texts, grouped into tables by id.
std::vector<uint8_t> plainFile(const std::vector<int32_t>& languages,
                               const std::vector<std::pair<int, std::u16string>>& texts);

QString fromUtf16(const char16_t* text); // a null QString for nullptr
