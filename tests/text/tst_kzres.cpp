#include "resource_bytes.h"

#include "text/resource_file.h"
#include "text/text_lookup.h"

#include <QProcess>
#include <QtTest>
#include <map>

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run kzres(const QStringList& args)
{
    QProcess process;
    process.start(QStringLiteral(KZRES_PATH), args);
    process.waitForFinished(30000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

bool writeText(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// Texts whose source lines need every rule of the format, and tables past 1024 units.
std::map<int, QString> richTexts(QByteArray* source)
{
    std::map<int, QString> texts = {
        {1, "plain ASCII"},
        {2, ""},
        {3, "two\nlines"},
        {4, "\ttab, back\\slash"},
        {5, " spaced "},
        {6, QString::fromUtf8("\xF0\x9F\x98\x80 outside the BMP")},
        {7, QString::fromUtf8("\xF0\x9F\x98\x80")},
        {8, QString::fromUtf8("Gr\xC3\xB6\xC3\x9F"
                              "e \xE5\xA4\xA7")},
        {100, QString(QChar(0xFEFF)) + "byte-order mark first"},
        {101, QString(QChar(0xFFFE)) + "swapped mark first"},
        {511, "last of table 0"},
        {512, "first of table 1"},
        {1536, QString(2000, 'w')},
        {INT32_MAX, "largest id"},
    };
    *source = "# every rule at once\nlanguage Fr\n\n1 plain ASCII\n2\n3\ttwo\\nlines\n"
              "4\t\\ttab, back\\\\slash\n5\t\\sspaced\\s  \n"
              "6\t\xF0\x9F\x98\x80 outside the BMP\n7\t\\u{1F600}\n"
              "8\tGr\xC3\xB6\xC3\x9F"
              "e \xE5\xA4\xA7\r\n100\t\\u{FEFF}byte-order mark first\n"
              "101\t\xEF\xBF\xBEswapped mark first\n511\tlast of table 0\n"
              "512\tfirst of table 1\n2147483647\tlargest id\n";
    *source += "1536\t" + QByteArray(2000, 'w') + "\n";
    for (int id = 1024; id < 1024 + 300; ++id) {
        texts[id] = QStringLiteral("text number %1").arg(id);
        *source += QByteArray::number(id) + ' ' + texts[id].toUtf8() + '\n';
    }
    return texts;
}

} // namespace

class TestKzres : public QObject {
    Q_OBJECT

private slots:
    void shouldRoundTripThroughTheStore_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("coded") << QStringList{};
        QTest::newRow("plain") << QStringList{"--plain"};
    }
    void shouldRoundTripThroughTheStore()
    {
        TextCatalog catalog;
        QFETCH(QStringList, options);
        ResourceFolder folder;
        QByteArray source;
        const std::map<int, QString> texts = richTexts(&source);
        QVERIFY(writeText(folder.path("source"), source));
        const Run run = kzres(QStringList{"build"} + options +
                              QStringList{"-o", folder.path("HelpFr"), folder.path("source")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        for (const auto& [id, text] : texts) {
            const QString found = fromUtf16(lookupText(&catalog, id, 3));
            QCOMPARE(found.isNull(), text.isEmpty()); // an empty text is no text
            QCOMPARE(found, text);
        }
        QVERIFY(!lookupText(&catalog, 9, 3));
    }

    void shouldKeepCarriageReturnsOnlyInPlainFiles()
    {
        TextCatalog catalog;
        ResourceFolder folder;
        QVERIFY(writeText(folder.path("source"), "language En\n1\tA\\r\\nB\n"));
        const Run coded = kzres({"build", "-o", folder.path("HelpEn"), folder.path("source")});
        QCOMPARE(coded.exitCode, 1);
        QVERIFY2(coded.err.contains("carriage return"), qPrintable(coded.err));
        QVERIFY(!QFile::exists(folder.path("HelpEn")));
        const Run plain =
            kzres({"build", "--plain", "-o", folder.path("HelpEn"), folder.path("source")});
        QCOMPARE(plain.exitCode, 0);
        QCOMPARE(fromUtf16(lookupText(&catalog, 1, 1)), QString("A\r\nB"));
    }

    void shouldWriteTheLanguageList()
    {
        ResourceFolder folder;
        QVERIFY(writeText(folder.path("source"), "language 3\nfallbacks 0 Es\n2 Annuler\n"));
        QCOMPARE(kzres({"build", "-o", folder.path("HelpFr"), folder.path("source")}).exitCode, 0);
        const std::unique_ptr<ResourceFile> file = loadResourceFile("HelpFr");
        QVERIFY(file);
        QCOMPARE(QVector<int>(file->header.languages, file->header.languages + 4),
                 (QVector<int>{3, 1, 5, 0}));
        QVERIFY(kzres({"dump", folder.path("HelpFr")}).out.contains("fallbacks 0 Es\n"));
    }

    void shouldRebuildFromItsOwnDump()
    {
        TextCatalog catalog;
        ResourceFolder folder;
        QByteArray source;
        const std::map<int, QString> texts = richTexts(&source);
        QVERIFY(writeText(folder.path("source"), source));
        QCOMPARE(kzres({"build", "-o", folder.path("first"), folder.path("source")}).exitCode, 0);
        const Run dump = kzres({"dump", folder.path("first")});
        QCOMPARE(dump.exitCode, 0);
        QVERIFY(writeText(folder.path("dumped"), dump.out.toUtf8()));
        const Run rebuild =
            kzres({"build", "--plain", "-o", folder.path("HelpFr"), folder.path("dumped")});
        QVERIFY2(rebuild.exitCode == 0, qPrintable(rebuild.err));
        for (const auto& [id, text] : texts)
            QCOMPARE(fromUtf16(lookupText(&catalog, id, 3)), text);
    }

    // Files made elsewhere, sound but unlike what kzres writes: table 0 holds a text at index
    // 0, which no id reaches, or the table lies where a negative offset puts it.
    void shouldRebuildAnySoundFileFromItsDump_data()
    {
        QTest::addColumn<int>("dataBaseShift"); // added to dataBase, taken from each table offset
        QTest::addColumn<bool>("textAtIdZero");
        QTest::newRow("text at table 0, index 0") << 0 << true;
        QTest::newRow("negative data base") << -2000 << false;
        QTest::newRow("negative table offsets") << 2000 << false;
        QTest::newRow("negative data base, text at index 0") << -2000 << true;
    }
    void shouldRebuildAnySoundFileFromItsDump()
    {
        TextCatalog catalog;
        QFETCH(int, dataBaseShift);
        QFETCH(bool, textAtIdZero);
        TestResource resource;
        resource.languages[0] = 3;
        const std::vector<std::pair<int, std::u16string>> texts = {
            {1, u"un"}, {2, u"\uFEFFdeux"}, {513, u"cinq cent treize"}, {1024, u"mille"}};
        resource.tables.push_back(
            plainTable(0, {textAtIdZero ? u"z\u00E9ro" : u"", u"un", u"\uFEFFdeux"}));
        resource.tables.push_back(plainTable(1, {u"", u"cinq cent treize"}));
        resource.tables.push_back(plainTable(2, {u"mille"}));
        std::vector<uint8_t> bytes = resource.bytes();
        const size_t dir = directoryAt(resource);
        patchLe32(&bytes, kHeaderDataBaseAt,
                  uint32_t(int32_t(dir + kDirectoryEntrySize * 3) + dataBaseShift));
        for (size_t table = 0; table < 3; ++table) {
            const size_t at = dir + kDirectoryEntrySize * table + 4;
            patchLe32(&bytes, at, uint32_t(int32_t(LoadLe32(&bytes[at])) - dataBaseShift));
        }
        ResourceFolder folder;
        QVERIFY(folder.write("Original", bytes));
        const Run dump = kzres({"dump", folder.path("Original")});
        QVERIFY2(dump.exitCode == 0, qPrintable(dump.err));
        QVERIFY(writeText(folder.path("dumped"), dump.out.toUtf8()));
        const Run rebuild =
            kzres({"build", "--plain", "-o", folder.path("HelpFr"), folder.path("dumped")});
        QVERIFY2(rebuild.exitCode == 0, qPrintable(rebuild.err + dump.out));
        for (const auto& [id, text] : texts)
            QCOMPARE(fromUtf16(lookupText(&catalog, id, 3)), fromUtf16(text.c_str()));
    }

    // A lone surrogate is no character: no source can hold it, so the dump says so, leaves the
    // text as a comment and still builds back with every other text.
    void shouldCommentOutLoneSurrogates()
    {
        TextCatalog catalog;
        TestResource resource;
        resource.languages[0] = 3;
        resource.tables.push_back(plainTable(0, {u"", u"a\xD800", u"deux", u"\xDC00"}));
        ResourceFolder folder;
        QVERIFY(folder.write("Original", resource.bytes()));
        const Run dump = kzres({"dump", folder.path("Original")});
        QCOMPARE(dump.exitCode, 1);
        QVERIFY2(dump.err.contains("text 1 holds a lone surrogate"), qPrintable(dump.err));
        QVERIFY2(dump.err.contains("text 3 holds a lone surrogate"), qPrintable(dump.err));
        QVERIFY(writeText(folder.path("dumped"), dump.out.toUtf8()));
        const Run rebuild =
            kzres({"build", "--plain", "-o", folder.path("HelpFr"), folder.path("dumped")});
        QVERIFY2(rebuild.exitCode == 0, qPrintable(rebuild.err + dump.out));
        QCOMPARE(fromUtf16(lookupText(&catalog, 2, 3)), QString("deux"));
        QVERIFY(!lookupText(&catalog, 1, 3));
    }

    void shouldRefuseWrongSources_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QString>("message");
        QTest::newRow("no language") << QByteArray("1 one\n") << "names no language";
        QTest::newRow("language 0") << QByteArray("language 0\n") << "line 1: 'language'";
        QTest::newRow("unknown fallback")
            << QByteArray("language Fr\nfallbacks Xx\n") << "line 2: 'Xx' is no language";
        QTest::newRow("id twice") << QByteArray("language Fr\n1 a\n1 b\n") << "line 3: id 1";
        QTest::newRow("id 0") << QByteArray("language Fr\n0 zero\n") << "line 2: the id";
        QTest::newRow("id too large") << QByteArray("language Fr\n2147483648 x\n") << "line 2";
        QTest::newRow("glued id") << QByteArray("language Fr\n12abc\n") << "space or a tab";
        QTest::newRow("unknown escape") << QByteArray("language Fr\n1 \\q\n") << "escape";
        QTest::newRow("lone surrogate") << QByteArray("language Fr\n1 \\u{D800}\n") << "escape";
        QTest::newRow("not UTF-8") << QByteArray("language Fr\n1 \xC3\n") << "UTF-8";
        QTest::newRow("unknown word") << QByteArray("langage Fr\n") << "expected an id";
    }
    void shouldRefuseWrongSources()
    {
        QFETCH(QByteArray, source);
        QFETCH(QString, message);
        ResourceFolder folder;
        QVERIFY(writeText(folder.path("source"), source));
        const Run run = kzres({"build", "-o", folder.path("HelpFr"), folder.path("source")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
    }

    void shouldSayWhatIsDamaged_data()
    {
        QTest::addColumn<int>("at");
        QTest::addColumn<uint>("value");
        QTest::addColumn<QString>("message");
        QTest::newRow("short") << -1 << 100u << "shorter than its 328-byte header";
        QTest::newRow("magic") << kHeaderMagicAt << 1u << "magic number 0xB28A617C";
        QTest::newRow("level") << kHeaderLevelAt << 3u << "format level 3";
        QTest::newRow("tree") << kHeaderTreeSizeAt << 3u << "lead outside the code tree";
        QTest::newRow("directory") << kHeaderDirCountAt << 9u << "runs past the end";
        QTest::newRow("table") << kHeaderDataBaseAt << 4000u << "lie outside the file";
    }
    void shouldSayWhatIsDamaged()
    {
        QFETCH(int, at);
        QFETCH(uint, value);
        QFETCH(QString, message);
        ResourceFolder folder;
        QVERIFY(writeText(folder.path("source"), "language En\n2 Cancel\n20 Start\n"));
        QCOMPARE(kzres({"build", "-o", folder.path("HelpEn"), folder.path("source")}).exitCode, 0);
        QFile file(folder.path("HelpEn"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray read = file.readAll();
        std::vector<uint8_t> bytes(read.begin(), read.end());
        file.close();
        if (at < 0)
            bytes.resize(value);
        else
            patchLe32(&bytes, size_t(at), value);
        QVERIFY(folder.write("HelpEn", bytes));
        const Run run = kzres({"dump", folder.path("HelpEn")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
    }

    void shouldExplainItsUse()
    {
        const Run help = kzres({"--help"});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.contains("kzres build"));
        const Run wrong = kzres({"frobnicate"});
        QCOMPARE(wrong.exitCode, 2);
        QVERIFY(wrong.err.contains("Usage"));
        QCOMPARE(kzres({"dump", "/nonexistent/HelpEn.kzresource"}).exitCode, 2);
    }
};

QTEST_GUILESS_MAIN(TestKzres)
#include "tst_kzres.moc"
