// The file-name rules of an update folder: each name's generation and its place on the disk.
#include "update/update_files.h"

#include <QtTest>

class TestUpdateFiles : public QObject {
    Q_OBJECT
private slots:
    void shouldApplyFileNameRules_data();
    void shouldApplyFileNameRules();
};

void TestUpdateFiles::shouldApplyFileNameRules_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("newGeneration");
    QTest::addColumn<bool>("legacy");
    QTest::addColumn<qint64>("offset");
    QTest::newRow("applications, new") << "ZENTA_APP.DAT" << true << false << qint64(0x500000);
    QTest::newRow("system, new") << "ZENTA_OS.ROM" << true << false << qint64(0);
    QTest::newRow("KESTOL, new") << "Zenta_Kestol.dat" << true << false << qint64(0x100000);
    QTest::newRow("applications, legacy") << "lunapack.dat" << false << true << qint64(0x500000);
    QTest::newRow("system, legacy") << "QORVAARM.ROM" << false << true << qint64(0);
    QTest::newRow("KESTOL, legacy") << "KESTOL.DAT" << false << true << qint64(0x100000);
    QTest::newRow("space around") << " KESTOL.DAT" << false << false << qint64(0);
    QTest::newRow("longer name") << "ZENTA_OS.ROM.BAK" << false << false << qint64(0);
    QTest::newRow("other") << "README.TXT" << false << false << qint64(0);
}

void TestUpdateFiles::shouldApplyFileNameRules()
{
    QFETCH(QString, name);
    QFETCH(bool, newGeneration);
    QFETCH(bool, legacy);
    QFETCH(qint64, offset);
    QCOMPARE(isNewGenerationFile(name), newGeneration);
    QCOMPARE(isLegacyGenerationFile(name), legacy);
    QCOMPARE(qint64(diskOffsetFor(name)), offset);
}

QTEST_GUILESS_MAIN(TestUpdateFiles)
#include "tst_updatefiles.moc"
