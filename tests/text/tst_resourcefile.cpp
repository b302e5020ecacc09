#include "resource_bytes.h"

#include "text/resource_file.h"
#include "text/text_lookup.h"

#include <QtTest>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

using Languages = QVector<int>;

class TestResourceFile : public QObject {
    Q_OBJECT

    static TestResource frenchWithOneTable()
    {
        TestResource resource;
        resource.languages[0] = 3;
        resource.tables.push_back(plainTable(0, {u"zero", u"un"}));
        return resource;
    }

private slots:
    void shouldCompleteTheLanguageList_data()
    {
        QTest::addColumn<Languages>("stored");
        QTest::addColumn<Languages>("completed");
        QTest::newRow("English into the first empty slot")
            << Languages{3, 0, 0, 0} << Languages{3, 1, 0, 0};
        QTest::newRow("English already named") << Languages{3, 1, 0, 0} << Languages{3, 1, 0, 0};
        QTest::newRow("four other languages") << Languages{3, 4, 5, 6} << Languages{3, 4, 5, 6};
        QTest::newRow("English after a gap") << Languages{3, 0, 1, 0} << Languages{3, 1, 1, 0};
        QTest::newRow("an English file") << Languages{1, 0, 0, 0} << Languages{1, 0, 0, 0};
    }
    void shouldCompleteTheLanguageList()
    {
        QFETCH(Languages, stored);
        QFETCH(Languages, completed);
        ResourceFolder folder;
        TestResource resource;
        std::copy(stored.begin(), stored.end(), resource.languages);
        QVERIFY(folder.write("HelpFr", resource.bytes()));
        const std::unique_ptr<ResourceFile> file = loadResourceFile("HelpFr");
        QVERIFY(file);
        QCOMPARE(Languages(file->header.languages, file->header.languages + 4), completed);
    }

    void shouldCheckTheHeader_data()
    {
        QTest::addColumn<uint>("magic");
        QTest::addColumn<uint>("formatId");
        QTest::addColumn<uint>("level");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("first format id") << kResourceMagic << kResourceFormatId << 4u << true;
        QTest::newRow("second format id") << kResourceMagic << kResourceFormatIdAlt << 4u << true;
        QTest::newRow("unknown format id") << kResourceMagic << 0xFE84125Fu << 4u << false;
        QTest::newRow("wrong magic") << 0xB28A617Du << kResourceFormatId << 4u << false;
        QTest::newRow("level 3") << kResourceMagic << kResourceFormatId << 3u << false;
        QTest::newRow("highest level")
            << kResourceMagic << kResourceFormatId << 0xFFFFFFFFu << true;
    }
    void shouldCheckTheHeader()
    {
        TextCatalog catalog;
        QFETCH(uint, magic);
        QFETCH(uint, formatId);
        QFETCH(uint, level);
        QFETCH(bool, accepted);
        ResourceFolder folder;
        TestResource resource = frenchWithOneTable();
        resource.magic = magic;
        resource.formatId = formatId;
        resource.formatLevel = level;
        QVERIFY(folder.write("HelpFr", resource.bytes()));
        QCOMPARE(openResourceFile(&catalog.files, 3) != nullptr, accepted);
        QCOMPARE(catalog.files.failedLanguages.size(), accepted ? size_t(0) : size_t(1));
    }

    void shouldOpenABareHeaderButFindNoTable()
    {
        TextCatalog catalog;
        ResourceFolder folder;
        TestResource resource;
        resource.languages[0] = 3;
        std::vector<uint8_t> bytes = resource.bytes();
        QCOMPARE(bytes.size(), size_t(kHeaderSize));
        QVERIFY(folder.write("HelpFr", bytes));
        ResourceFile* file = openResourceFile(&catalog.files, 3);
        QVERIFY(file);
        QVERIFY(!findTable(file, 0));

        bytes.pop_back();
        QVERIFY(folder.write("HelpDe", bytes));
        QVERIFY(!openResourceFile(&catalog.files, 4));
    }

    void shouldClipRangesAtTheEndOfTheFile_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<int>("count");
        QTest::newRow("inside") << 10 << 20 << 10;
        QTest::newRow("past the end") << 300 << 1000 << 28;
        QTest::newRow("to the largest offset") << 0 << INT32_MAX << kHeaderSize;
        QTest::newRow("beyond the end") << 400 << 500 << 0;
        QTest::newRow("empty") << 20 << 20 << 0;
        QTest::newRow("negative start") << -5 << 10 << 0;
    }
    void shouldClipRangesAtTheEndOfTheFile()
    {
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(int, count);
        ResourceFolder folder;
        QVERIFY(folder.write("HelpFr", TestResource().bytes()));
        QCOMPARE(int(readResourceRange("HelpFr", start, end).size()), count);
        QCOMPARE(int(readResourceRange("HelpMissing", start, end).size()), 0);
    }

    void shouldLetTheLaterOfTwoEntriesWin()
    {
        TextCatalog catalog;
        ResourceFolder folder;
        TestResource resource = frenchWithOneTable();
        resource.tables.push_back(plainTable(0, {u"zéro", u"une"}));
        QVERIFY(folder.write("HelpFr", resource.bytes()));
        QCOMPARE(fromUtf16(lookupText(&catalog, 1, 3)), QString("une"));
    }

    void shouldIgnoreBit31OfTheTableSize()
    {
        TextCatalog catalog;
        ResourceFolder folder;
        const TestResource resource = frenchWithOneTable();
        std::vector<uint8_t> bytes = resource.bytes();
        const size_t sizeAt = directoryAt(resource) + 8;
        patchLe32(&bytes, sizeAt, uint32_t(resource.tables[0].data.size()) | 0x80000000u);
        QVERIFY(folder.write("HelpFr", bytes));
        ResourceFile* file = openResourceFile(&catalog.files, 3);
        QVERIFY(file);
        const DirectoryEntry* entry = findTable(file, 0);
        QVERIFY(entry);
        QCOMPARE(size_t(entry->tableSize), resource.tables[0].data.size());
        QCOMPARE(fromUtf16(lookupText(&catalog, 1, 3)), QString("un"));
    }

    void shouldOpenOnlyRegularFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("opens");
        QTest::newRow("FIFO") << "fifo" << false;
        QTest::newRow("link to a FIFO") << "link to fifo" << false;
        QTest::newRow("folder") << "folder" << false;
        QTest::newRow("link to a file") << "link to file" << true;
    }
    void shouldOpenOnlyRegularFiles()
    {
        TextCatalog catalog;
        QFETCH(QString, kind);
        QFETCH(bool, opens);
        ResourceFolder folder;
        const QString path = folder.path("HelpFr");
        const QString target = folder.path("Target");
        if (kind == "folder")
            QVERIFY(QDir().mkdir(path));
        if (kind.endsWith("fifo"))
            QCOMPARE(mkfifo(qPrintable(kind == "fifo" ? path : target), 0600), 0);
        if (kind == "link to file")
            QVERIFY(folder.write("Target", frenchWithOneTable().bytes()));
        if (kind.startsWith("link"))
            QVERIFY(QFile::link(target, path));
        // Opened aside, so that a blocking open can be freed and reported, not hang the test.
        auto opened = std::async(std::launch::async,
                                 [&catalog] { return openResourceFile(&catalog.files, 3); });
        if (opened.wait_for(std::chrono::seconds(10)) == std::future_status::timeout) {
            ::close(::open(qPrintable(kind == "fifo" ? path : target), O_WRONLY | O_NONBLOCK));
            opened.wait();
            QFAIL("opening the resource file blocked");
        }
        QCOMPARE(opened.get() != nullptr, opens);
    }

    // Where the table lies is dataBase + tableOffset; only that sum has to lie inside the file.
    void shouldReadTableWhereverItsOffsetsSumTo_data()
    {
        QTest::addColumn<qint64>("dataBase"); // from the real one
        QTest::addColumn<qint64>("tableOffset");
        QTest::addColumn<QString>("text");
        QTest::newRow("as written") << 0LL << 0LL << "un";
        QTest::newRow("negative data base") << -1000LL << 1000LL << "un";
        QTest::newRow("negative table offset") << 8LL << -8LL << "un";
        QTest::newRow("sum before the file") << -1000LL << -100LL << QString();
        QTest::newRow("sum past the largest offset")
            << qint64(INT32_MAX) << qint64(INT32_MAX) << QString();
        QTest::newRow("both most negative") << qint64(INT32_MIN) << qint64(INT32_MIN) << QString();
    }
    void shouldReadTableWhereverItsOffsetsSumTo()
    {
        TextCatalog catalog;
        QFETCH(qint64, dataBase);
        QFETCH(qint64, tableOffset);
        QFETCH(QString, text);
        ResourceFolder folder;
        const TestResource resource = frenchWithOneTable();
        std::vector<uint8_t> bytes = resource.bytes();
        const qint64 realBase = qint64(directoryAt(resource)) + kDirectoryEntrySize;
        // Either value on its own as given when it is out of reach of the real one.
        const auto field = [&](qint64 value, qint64 real) {
            return uint32_t(value <= INT32_MIN || value >= INT32_MAX ? value : real + value);
        };
        patchLe32(&bytes, kHeaderDataBaseAt, field(dataBase, realBase));
        patchLe32(&bytes, directoryAt(resource) + 4, field(tableOffset, 0));
        QVERIFY(folder.write("HelpFr", bytes));
        const QString found = fromUtf16(lookupText(&catalog, 1, 3));
        QCOMPARE(found.isNull(), text.isNull());
        QCOMPARE(found, text);
    }

    void shouldLookForAMissingFileOnce()
    {
        TextCatalog catalog;
        ResourceFolder folder;
        QVERIFY(!openResourceFile(&catalog.files, 3));
        QVERIFY(folder.write("HelpFr", frenchWithOneTable().bytes()));
        QVERIFY(!openResourceFile(&catalog.files, 3)); // a file added later is not noticed
        QCOMPARE(catalog.files.failedLanguages, std::vector<int>{3});
        QVERIFY(!openResourceFile(&catalog.files, 0));
        QVERIFY(!openResourceFile(&catalog.files, 10));
    }

    void shouldReadAShortDirectoryAgainNextTime()
    {
        TextCatalog catalog;
        ResourceFolder folder;
        const TestResource resource = frenchWithOneTable();
        std::vector<uint8_t> bytes = resource.bytes();
        QVERIFY(folder.write("HelpFr",
                             {bytes.begin(), bytes.begin() + long(directoryAt(resource)) + 4}));
        ResourceFile* file = openResourceFile(&catalog.files, 3);
        QVERIFY(file);
        QVERIFY(!findTable(file, 0));
        QVERIFY(folder.write("HelpFr", bytes));
        QVERIFY(findTable(file, 0));
    }
};

QTEST_GUILESS_MAIN(TestResourceFile)
#include "tst_resourcefile.moc"
