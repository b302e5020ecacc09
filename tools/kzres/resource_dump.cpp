// Reading a text resource file back into source form, with what is wrong in it.
#include "tools/kzres/resource_dump.h"

#include "text/languages.h"
#include "text/resource_format.h"
#include "text/string_table.h"
#include "tools/kzres/source_text.h"

#include <algorithm>
#include <cstdint>

namespace {

QString hex(uint32_t value)
{
    return QStringLiteral("0x") + QString::number(value, 16).toUpper().rightJustified(8, '0');
}

QString languageName(int32_t language)
{
    const char* code = languageCode(language);
    return code != nullptr ? QLatin1String(code) : QString::number(language);
}

QString headerProblem(int result, const ResourceHeader& header, size_t fileSize)
{
    switch (result) {
    case kHeaderShort:
        return QStringLiteral("the file is %1 bytes long, shorter than its %2-byte header")
            .arg(fileSize)
            .arg(kHeaderSize);
    case kHeaderBadMagic:
        return QStringLiteral("it does not begin with the magic number %1 (it has %2)")
            .arg(hex(kResourceMagic), hex(header.magic));
    case kHeaderBadFormat:
        return QStringLiteral("its format id %1 is neither %2 nor %3")
            .arg(hex(header.formatId), hex(kResourceFormatId), hex(kResourceFormatIdAlt));
    default:
        return QStringLiteral("its format level %1 is below %2")
            .arg(header.formatLevel)
            .arg(kResourceMinLevel);
    }
}

void dumpLanguages(const ResourceHeader& header, ResourceDump* dump)
{
    dump->text += QStringLiteral("language %1\n").arg(languageName(header.languages[0]));
    if (languageCode(header.languages[0]) == nullptr)
        dump->problems
            << QStringLiteral("its own language %1 has no file").arg(header.languages[0]);
    QStringList fallbacks;
    for (int slot = 1; slot < kLanguageSlots; ++slot) {
        const int32_t language = header.languages[slot];
        fallbacks << languageName(language);
        if (language < 0 || language > kLastLanguage)
            dump->problems << QStringLiteral("slot %1 of its language list holds %2, no language")
                                  .arg(slot)
                                  .arg(language);
    }
    while (!fallbacks.isEmpty() && fallbacks.last() == QLatin1String("0"))
        fallbacks.removeLast();
    if (!fallbacks.isEmpty())
        dump->text += QStringLiteral("fallbacks %1\n").arg(fallbacks.join(' '));
    int32_t chain[kLanguageSlots];
    std::copy(header.languages, header.languages + kLanguageSlots, chain);
    completeLanguageList(chain);
    QStringList tried;
    for (const int32_t language : chain) {
        if (language != 0)
            tried << languageName(language);
    }
    dump->text += QStringLiteral("# lookups try %1\n").arg(tried.join(QStringLiteral(", ")));
}

// A high surrogate without a low one after it, or a low one without a high one before it: no
// character, and nothing that a source can write.
bool hasLoneSurrogate(const std::u16string& text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        if (QChar::isHighSurrogate(text[i]) && i + 1 < text.size() &&
            QChar::isLowSurrogate(text[i + 1]))
            ++i;
        else if (QChar::isSurrogate(text[i]))
            return true;
    }
    return false;
}

void dumpStrings(int32_t number, const StringTable& table, ResourceDump* dump)
{
    const size_t count = table.strings.size();
    for (size_t k = 0; k < count && k < size_t(kTableStrings); ++k) {
        const std::u16string text(table.strings[k]);
        const int64_t id = int64_t(number) * kTableStrings + int64_t(k);
        if (text.empty()) // the store treats an empty text as missing
            continue;
        // Id 0 is the empty text: the store never looks this one up, and a source cannot
        // name it. Such texts are shown as comments, so that the dump still builds.
        QString comment;
        if (id == 0)
            comment = QStringLiteral("# no id reaches index 0 of table 0: ");
        if (hasLoneSurrogate(text)) {
            comment = QStringLiteral("# a lone surrogate, which no source can hold: ");
            dump->problems << QStringLiteral("text %1 holds a lone surrogate; it is left out as "
                                             "a comment")
                                  .arg(id);
        }
        dump->text += QStringLiteral("%1%2\t%3\n").arg(comment).arg(id).arg(escapeText(text));
    }
    if (count > size_t(kTableStrings))
        dump->text += QStringLiteral("# table %1 holds %2 strings; no id reaches those past %3\n")
                          .arg(number)
                          .arg(count)
                          .arg(kTableStrings);
}

void dumpTable(const std::vector<uint8_t>& file, const ResourceHeader& header,
               const std::vector<uint8_t>* tree, const DirectoryEntry& entry, ResourceDump* dump)
{
    const int32_t number = entry.tableNumber;
    const QString name =
        QStringLiteral("table %1 (ids from %2)").arg(number).arg(int64_t(number) * kTableStrings);
    if (number > INT32_MAX / kTableStrings) {
        dump->text += QStringLiteral("# %1: no id reaches it\n").arg(name);
        return;
    }
    int32_t start = 0;
    int32_t end = 0;
    if (!(tableRange(header, entry, &start, &end) && size_t(end) <= file.size())) {
        dump->problems << QStringLiteral("%1: its %2 bytes at data offset %3 lie outside the file")
                              .arg(name)
                              .arg(entry.tableSize)
                              .arg(entry.tableOffset);
        return;
    }
    if (header.treeSize != 0 && tree == nullptr) {
        dump->problems << QStringLiteral("%1 cannot be decoded without the code tree").arg(name);
        return;
    }
    StringTable table;
    const int result =
        decodeStringTable(file.data() + start, end - start, tree, entry.lastIndex, &table);
    dump->text += QStringLiteral("# %1: %2 bytes, %3 strings\n")
                      .arg(name)
                      .arg(end - start)
                      .arg(table.strings.size());
    if (result == kDecodeDamaged)
        dump->problems << QStringLiteral("%1: its bits lead outside the code tree").arg(name);
    else if (result == kDecodeCutShort)
        dump->problems
            << QStringLiteral("%1 ends inside a string; the strings before it stand").arg(name);
    else if (tree == nullptr && (end - start) % 2 != 0)
        dump->problems
            << QStringLiteral("%1 has an odd byte count; its last byte is ignored").arg(name);
    dumpStrings(number, table, dump);
}

const std::vector<uint8_t>* readTree(const std::vector<uint8_t>& file, const ResourceHeader& header,
                                     std::vector<uint8_t>* tree, ResourceDump* dump)
{
    int32_t start = 0;
    int32_t end = 0;
    if (header.treeSize == 0)
        return nullptr;
    if (!(treeRange(header, &start, &end) && size_t(end) <= file.size())) {
        dump->problems << QStringLiteral("the code tree (%1 bytes at offset %2) lies outside the "
                                         "file of %3 bytes")
                              .arg(header.treeSize)
                              .arg(header.treeOffset)
                              .arg(file.size());
        return nullptr;
    }
    tree->assign(file.begin() + start, file.begin() + end);
    return tree;
}

void dumpTables(const std::vector<uint8_t>& file, const ResourceHeader& header, ResourceDump* dump)
{
    std::vector<uint8_t> treeBytes;
    const std::vector<uint8_t>* tree = readTree(file, header, &treeBytes, dump);
    int32_t start = 0;
    int32_t end = 0;
    if (header.dirCount <= 0) {
        dump->text += QStringLiteral("# no tables\n");
        return;
    }
    if (!(directoryRange(header, &start, &end) && size_t(end) <= file.size())) {
        dump->problems << QStringLiteral("the directory (%1 entries at offset %2) runs past the "
                                         "end of the file of %3 bytes")
                              .arg(header.dirCount)
                              .arg(header.dirOffset)
                              .arg(file.size());
        return;
    }
    const std::vector<DirectoryEntry> directory = parseDirectory(file.data() + start, end - start);
    for (const DirectoryEntry& entry : directory) {
        if (findDirectoryEntry(directory, entry.tableNumber) != &entry)
            dump->text += QStringLiteral("# table %1: left out, a later entry replaces it\n")
                              .arg(entry.tableNumber);
        else
            dumpTable(file, header, tree, entry, dump);
    }
}

} // namespace

ResourceDump dumpResource(const std::vector<uint8_t>& file)
{
    ResourceDump dump;
    ResourceHeader header;
    const int32_t size = file.size() > size_t(INT32_MAX) ? INT32_MAX : int32_t(file.size());
    const int result = parseResourceHeader(file.data(), size, &header);
    if (result != kHeaderOk) {
        dump.problems << headerProblem(result, header, file.size());
        return dump;
    }
    dump.text += QStringLiteral("# format id %1, level %2, %3\n")
                     .arg(hex(header.formatId))
                     .arg(header.formatLevel)
                     .arg(header.treeSize != 0
                              ? QStringLiteral("coded with a tree of %1 bytes").arg(header.treeSize)
                              : QStringLiteral("plain"));
    dumpLanguages(header, &dump);
    dumpTables(file, header, &dump);
    return dump;
}
