#include "resource_bytes.h"

#include "text/resource_file.h"
#include "text/text_lookup.h"
#include "text/text_store.h"

#include <QtTest>

namespace {

using Texts = std::vector<std::pair<int, std::u16string>>;

// French coded with one kind-3 node ('A' on bit 0, the terminator on bit 1): id 2 is "A".
TestResource codedFrench()
{
    TestResource resource;
    resource.languages[0] = 3;
    resource.tree = {3, 'A', 0, 0, 0};
    TestTable table;
    table.lastIndex = 2;
    table.data = {0x01, 0x00, 0x01, 0x00, 0x02, 0x00}; // "", "", "A"
    resource.tables.push_back(table);
    return resource;
}

// The string of these units as they are: no byte-order mark taken away or obeyed.
QString units(const std::u16string& text)
{
    return QString(reinterpret_cast<const QChar*>(text.data()), int(text.size()));
}

} // namespace

class TestTextLookup : public QObject {
    Q_OBJECT

private slots:
    void shouldFollowTheChain_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("text");
        QTest::newRow("own text") << 3 << 2 << "Annuler";
        QTest::newRow("empty in French") << 3 << 20 << "Start";
        QTest::newRow("missing in French: English before Spanish") << 3 << 521 << "Waiting";
        QTest::newRow("Spanish third") << 3 << 622 << "No hay";
        QTest::newRow("other files' lists unused") << 3 << 627 << QString();
        QTest::newRow("no French table") << 3 << 7774 << QString();
        QTest::newRow("German missing: English's own list") << 4 << 627 << "Gereed";
        QTest::newRow("language 0: English") << 0 << 2 << "Cancel";
        QTest::newRow("no such language") << 42 << 2 << "Cancel";
        QTest::newRow("negative id") << 3 << -2 << QString();
    }
    void shouldFollowTheChain()
    {
        TextCatalog catalog;
        QFETCH(int, language);
        QFETCH(int, id);
        QFETCH(QString, text);
        ResourceFolder folder;
        folder.write("HelpFr", plainFile({3, 0, 5, 0}, Texts{{2, u"Annuler"}, {20, u""}}));
        folder.write("HelpEn",
                     plainFile({1, 6}, Texts{{2, u"Cancel"}, {20, u"Start"}, {521, u"Waiting"}}));
        folder.write(
            "HelpEs",
            plainFile({5}, Texts{{20, u"Iniciar"}, {521, u"Esperando"}, {622, u"No hay"}}));
        folder.write("HelpNl", plainFile({6}, Texts{{627, u"Gereed"}}));
        const QString found = fromUtf16(lookupText(&catalog, id, language));
        QCOMPARE(found.isNull(), text.isNull());
        QCOMPARE(found, text);
    }

    void shouldSkipEmptySlotsOfTheChain()
    {
        TextCatalog catalog;
        ResourceFolder folder;
        folder.write("HelpFr", plainFile({3, 0, 0, 5}, Texts{{2, u"Annuler"}}));
        folder.write("HelpEs", plainFile({5}, Texts{{20, u"Iniciar"}}));
        QCOMPARE(fromUtf16(lookupText(&catalog, 20, 3)), QString("Iniciar"));
    }

    void shouldGiveTheEmptyTextForIdZero()
    {
        TextCatalog catalog;
        ResourceFolder folder;
        const char16_t* text = lookupText(&catalog, 0, 3);
        QVERIFY(text != nullptr);
        QCOMPARE(text[0], u'\0');
        QCOMPARE(CTextStore().textOrDefault("Cancel", 0), QString("Cancel"));
    }

    void shouldKeepOrRefuseLanguages_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("kept");
        QTest::addColumn<int>("language");
        QTest::newRow("none chosen") << 0 << true << 0;
        QTest::newRow("French") << 3 << true << 3;
        QTest::newRow("Japanese") << 8 << true << 8;
        QTest::newRow("Russian only as a fallback") << 9 << false << 1;
        QTest::newRow("negative") << -1 << false << 1;
    }
    void shouldKeepOrRefuseLanguages()
    {
        QFETCH(int, number);
        QFETCH(bool, kept);
        QFETCH(int, language);
        CTextStore store;
        store.setLanguage(5);
        QCOMPARE(store.setLanguage(number), kept);
        QCOMPARE(store.language(), language);
    }

    void shouldLookUpInTheCurrentStoresLanguage()
    {
        ResourceFolder folder;
        folder.write("HelpFr", plainFile({3}, Texts{{2, u"Annuler"}}));
        folder.write("HelpEn", plainFile({1}, Texts{{2, u"Cancel"}}));
        {
            CTextStore store;
            setCurrentTextStore(&store);
            QCOMPARE(store.text(2, 0), QString("Cancel"));
            store.setLanguage(3);
            QCOMPARE(currentLanguage(), 3);
            QCOMPARE(store.textOrDefault("Dismiss", 2), QString("Annuler"));
            QCOMPARE(store.textOrDefault("Browse", 744), QString("Browse"));
        }
        QCOMPARE(currentLanguage(), 0); // a store that is gone is no longer asked
    }

    void shouldGiveDefaultsWithoutAnyFile()
    {
        ResourceFolder folder;
        CTextStore store;
        store.setLanguage(3);
        QCOMPARE(store.textOrDefault("Firmware update", 631), QString("Firmware update"));
        QVERIFY(store.textOrDefault(nullptr, 633).isEmpty());
        QCOMPARE(store.catalog().files.failedLanguages, (std::vector<int>{3, 1}));
    }

    void shouldSwapNewTablesToTheFront()
    {
        TextCatalog catalog;
        ResourceFolder folder;
        Texts texts;
        for (int table = 0; table < 11; ++table)
            texts.emplace_back(table * kTableStrings + 1, u"x");
        folder.write("HelpEn", plainFile({1}, texts));
        for (const auto& text : texts)
            QVERIFY(lookupText(&catalog, text.first, 1));
        QCOMPARE(catalog.tableCache.size(), size_t(kTableCacheSize));
        QCOMPARE(catalog.tableCache[0]->tableNumber, 10);
        for (int position = 1; position < kTableCacheSize; ++position)
            QCOMPARE(catalog.tableCache[size_t(position)]->tableNumber, position - 1);
    }

    void shouldServeCachedTablesWithoutTheFile()
    {
        TextCatalog catalog;
        ResourceFolder folder;
        folder.write("HelpEn", plainFile({1}, Texts{{2, u"Cancel"}, {521, u"Waiting"}}));
        CTextStore store; // keeps what it has read from one lookup to the next as well
        QCOMPARE(fromUtf16(lookupText(&catalog, 2, 1)), QString("Cancel"));
        QCOMPARE(store.text(2, 1), QString("Cancel"));
        QVERIFY(folder.remove("HelpEn"));
        QCOMPARE(fromUtf16(lookupText(&catalog, 2, 1)), QString("Cancel"));
        QVERIFY(!lookupText(&catalog, 521, 1)); // not cached, and the file is gone
        QCOMPARE(store.text(2, 0), QString("Cancel"));
        QVERIFY(store.text(521, 1).isNull());
    }

    void shouldKeepByteOrderMarksOfTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("U+FEFF first") << units(u"\uFEFFAnnuler");
        QTest::newRow("U+FFFE first") << units(u"\uFFFEAnnuler");
        QTest::newRow("U+FEFF alone") << units(u"\uFEFF");
        QTest::newRow("U+FEFF twice") << units(u"\uFEFF\uFEFF");
        QTest::newRow("U+FEFF inside") << units(u"Ann\uFEFFuler");
    }
    void shouldKeepByteOrderMarksOfTexts()
    {
        QFETCH(QString, text);
        ResourceFolder folder;
        const std::u16string stored(reinterpret_cast<const char16_t*>(text.utf16()),
                                    size_t(text.size()));
        folder.write("HelpFr", plainFile({3}, Texts{{2, stored}}));
        CTextStore store;
        store.setLanguage(3);
        QCOMPARE(store.text(2, 3), text);
        QCOMPARE(store.textOrDefault("Cancel", 2), text);
    }

    void shouldFallBackToEnglishFromDamagedFiles_data()
    {
        QTest::addColumn<int>("at");
        QTest::addColumn<uint>("value");
        const int dir = int(directoryAt(codedFrench()));
        QTest::newRow("sound file") << -1 << 0u; // the French text itself
        QTest::newRow("magic") << kHeaderMagicAt << 0u;
        QTest::newRow("format id") << kHeaderFormatIdAt << 0xFE84125Fu;
        QTest::newRow("level") << kHeaderLevelAt << 3u;
        QTest::newRow("directory past the end") << kHeaderDirCountAt << 2u;
        QTest::newRow("huge directory") << kHeaderDirCountAt << 0x7FFFFFFFu;
        QTest::newRow("negative directory offset") << kHeaderDirOffsetAt << 0xFFFFFFF0u;
        QTest::newRow("directory end overflows") << kHeaderDirOffsetAt << 0x7FFFFFF8u;
        QTest::newRow("negative data base") << kHeaderDataBaseAt << 0x80000000u;
        QTest::newRow("table end overflows") << kHeaderDataBaseAt << 0x7FFFFFFFu;
        QTest::newRow("table past the end") << dir + 4 << 1000u;
        QTest::newRow("table offset before the file") << dir + 4 << uint(-(dir + 13));
        QTest::newRow("table size past the end") << dir + 8 << 100u;
        QTest::newRow("negative tree size") << kHeaderTreeSizeAt << 0xFFFFFFFFu;
        QTest::newRow("tree past the end") << kHeaderTreeOffsetAt << 5000u;
        QTest::newRow("negative tree offset") << kHeaderTreeOffsetAt << 0x80000000u;
        QTest::newRow("tree leads outside itself") << int(kTestTreeAt) << 0x00FFFF00u;
        QTest::newRow("cut inside the directory") << -2 << uint(dir + 6);
        QTest::newRow("cut inside the header") << -2 << 300u;
    }
    void shouldFallBackToEnglishFromDamagedFiles()
    {
        QFETCH(int, at);
        QFETCH(uint, value);
        ResourceFolder folder;
        std::vector<uint8_t> bytes = codedFrench().bytes();
        if (at >= 0)
            patchLe32(&bytes, size_t(at), value);
        if (at == -2)
            bytes.resize(value);
        folder.write("HelpFr", bytes);
        folder.write("HelpEn", plainFile({1}, Texts{{2, u"Abort"}}));
        CTextStore store;
        store.setLanguage(3);
        const QString expected = at == -1 ? "A" : "Abort";
        QCOMPARE(store.textOrDefault("Cancel", 2), expected);
        QCOMPARE(store.textOrDefault("Cancel", 2), expected); // and again, with what is kept
    }
};

QTEST_GUILESS_MAIN(TestTextLookup)
#include "tst_textlookup.moc"
