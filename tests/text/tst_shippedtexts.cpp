#include "resource_bytes.h"

#include "text/resource_file.h"
#include "text/string_table.h"
#include "text/text_lookup.h"

#include <QDir>
#include <QtTest>

namespace {

const int kAskedIds[] = {2, 20, 521, 622, 627, 631, 633, 744, 7774};
constexpr int kFolderNameId = 657;

// The text that a language's own file holds for an id, without any fallback.
QString ownText(TextCatalog* catalog, int language, int id)
{
    ResourceFile* file = openResourceFile(&catalog->files, language);
    const DirectoryEntry* entry = file ? findTable(file, id / kTableStrings) : nullptr;
    std::vector<uint8_t> bytes;
    if (entry == nullptr || !readTable(*file, *entry, &bytes))
        return QString();
    StringTable table;
    decodeStringTable(bytes.data(), int32_t(bytes.size()), codeTree(file), entry->lastIndex,
                      &table);
    const size_t index = size_t(id % kTableStrings);
    return index < table.strings.size() ? fromUtf16(table.strings[index]) : QString();
}

} // namespace

class TestShippedTexts : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QDir::setSearchPaths(QStringLiteral("resource"), {QStringLiteral(RESOURCE_DIR)});
    }

    void shouldHoldEveryAskedText_data()
    {
        QTest::addColumn<int>("language");
        const char* const names[] = {"English", "Chinese", "French",     "German",
                                     "Spanish", "Dutch",   "Portuguese", "Japanese"};
        for (int language = 1; language <= 8; ++language)
            QTest::newRow(names[language - 1]) << language;
    }
    void shouldHoldEveryAskedText()
    {
        QFETCH(int, language);
        TextCatalog catalog;
        ResourceFile* file = openResourceFile(&catalog.files, language);
        QVERIFY(file);
        QCOMPARE(file->header.languages[0], language);
        QVERIFY(codeTree(file)); // shipped coded
        for (const int id : kAskedIds)
            QVERIFY2(!ownText(&catalog, language, id).isEmpty(), qPrintable(QString::number(id)));
        // The dialog cuts the last character of 521 and adds its own dots.
        QVERIFY(ownText(&catalog, language, 521).endsWith("..."));
        QVERIFY(ownText(&catalog, language, 7774).endsWith(QChar(0x2026)));
        // Every language finds its updates in the English file's folder name.
        QCOMPARE(ownText(&catalog, language, kFolderNameId).isEmpty(), language != 1);
        QCOMPARE(fromUtf16(lookupText(&catalog, kFolderNameId, language)), QString("Firmware"));
    }
};

QTEST_GUILESS_MAIN(TestShippedTexts)
#include "tst_shippedtexts.moc"
