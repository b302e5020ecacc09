#include "resource_bytes.h"

#include "text/resource_file.h"
#include "text/string_table.h"
#include "text/text_lookup.h"
#include "ui/window_texts.h"

#include <QDir>
#include <QRegularExpression>
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

// The placeholders of a text, sorted: a translation must keep every one.
QStringList placeholders(const QString& text)
{
    QStringList found;
    auto it = QRegularExpression("%\\d").globalMatch(text);
    while (it.hasNext())
        found << it.next().captured();
    found.sort();
    return found;
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

    // The window's own texts, each in the language's own file with the English default's
    // placeholders, so that no line of the window falls back to English.
    void shouldHoldEveryWindowText_data() { shouldHoldEveryAskedText_data(); }
    void shouldHoldEveryWindowText()
    {
        QFETCH(int, language);
        TextCatalog catalog;
        int count = 0;
        const WindowText* texts = windowTexts(&count);
        QVERIFY(count > 0);
        for (int i = 0; i < count; ++i) {
            const QString own = ownText(&catalog, language, texts[i].id);
            const QString english = QString::fromUtf8(texts[i].english);
            QVERIFY2(!own.isEmpty(), qPrintable(QString::number(texts[i].id)));
            QVERIFY2(placeholders(own) == placeholders(english), qPrintable(own));
            if (language == 1)
                QCOMPARE(own, english);
        }
    }
};

QTEST_GUILESS_MAIN(TestShippedTexts)
#include "tst_shippedtexts.moc"
