#include "dialog_rig.h"

#include "worker/update_worker.h"

#include <QApplication>
#include <QDir>
#include <QProgressBar>
#include <QtTest>

using Offsets = QMap<QString, qint64>;

class TestUpdateScan : public QObject {
    Q_OBJECT
private slots:
    void shouldApplyFileNameRules_data();
    void shouldApplyFileNameRules();
    void shouldFindOneGenerationOfFiles_data();
    void shouldFindOneGenerationOfFiles();
    void shouldKeepListingOrderAndHandFirstFileToWorker();
    void shouldReportMissingFolder();
    void shouldSeeOnlyNewFolderAfterBrowsing();
    void shouldChangeNothingWhenBrowsingIsCancelled();
};

void TestUpdateScan::shouldApplyFileNameRules_data()
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

void TestUpdateScan::shouldApplyFileNameRules()
{
    QFETCH(QString, name);
    QFETCH(bool, newGeneration);
    QFETCH(bool, legacy);
    QFETCH(qint64, offset);
    QCOMPARE(isNewGenerationFile(name), newGeneration);
    QCOMPARE(isLegacyGenerationFile(name), legacy);
    QCOMPARE(qint64(diskOffsetFor(name)), offset);
}

void TestUpdateScan::shouldFindOneGenerationOfFiles_data()
{
    QTest::addColumn<QStringList>("entries"); // a trailing "/" makes a directory
    QTest::addColumn<Offsets>("records");     // file name -> disk offset
    QTest::addColumn<bool>("complete");
    const Offsets newSet{
        {"ZENTA_APP.DAT", 0x500000}, {"ZENTA_OS.ROM", 0}, {"ZENTA_KESTOL.DAT", 0x100000}};
    const Offsets legacySet{
        {"LUNAPACK.DAT", 0x500000}, {"QORVAARM.ROM", 0}, {"KESTOL.DAT", 0x100000}};
    const QStringList newNames = newSet.keys();
    const QStringList legacyNames = legacySet.keys();
    QTest::newRow("new generation") << newNames << newSet << true;
    QTest::newRow("legacy generation") << legacyNames << legacySet << true;
    QTest::newRow("lower case keeps its case")
        << QStringList{"zenta_app.dat", "zenta_os.rom", "zenta_kestol.dat"}
        << Offsets{{"zenta_app.dat", 0x500000}, {"zenta_os.rom", 0}, {"zenta_kestol.dat", 0x100000}}
        << true;
    QTest::newRow("legacy set and one new file")
        << legacyNames + QStringList{"ZENTA_OS.ROM"} << Offsets{{"ZENTA_OS.ROM", 0}} << false;
    QTest::newRow("all six files") << legacyNames + newNames << newSet << true;
    QTest::newRow("two of three") << QStringList{"ZENTA_APP.DAT", "ZENTA_OS.ROM"}
                                  << Offsets{{"ZENTA_APP.DAT", 0x500000}, {"ZENTA_OS.ROM", 0}}
                                  << false;
    QTest::newRow("directory with a file's name")
        << QStringList{"LUNAPACK.DAT", "QORVAARM.ROM", "KESTOL.DAT/"}
        << Offsets{{"LUNAPACK.DAT", 0x500000}, {"QORVAARM.ROM", 0}} << false;
    QTest::newRow("directory with a new name decides nothing")
        << legacyNames + QStringList{"ZENTA_OS.ROM/"} << legacySet << true;
    QTest::newRow("hidden and other files ignored")
        << newNames + QStringList{".ZENTA_OS.ROM", ".hidden", "README.TXT"} << newSet << true;
    QTest::newRow("same name in two cases") << newNames + QStringList{"zenta_app.dat"}
                                            << Offsets{{"ZENTA_APP.DAT", 0x500000},
                                                       {"zenta_app.dat", 0x500000},
                                                       {"ZENTA_OS.ROM", 0},
                                                       {"ZENTA_KESTOL.DAT", 0x100000}}
                                            << false;
    QTest::newRow("empty folder") << QStringList() << Offsets() << false;
}

void TestUpdateScan::shouldFindOneGenerationOfFiles()
{
    QFETCH(QStringList, entries);
    QFETCH(Offsets, records);
    QFETCH(bool, complete);
    DialogRig rig;
    for (const QString& entry : entries)
        rig.addFile(entry, entry.startsWith("ZENTA_OS") ? 0 : 1000);
    CCalcFWUpdateMSDialog& dialog = rig.start();

    Offsets found;
    for (const CUpdateFile* file : dialog.updateFiles) {
        found.insert(file->fileName, file->diskOffset);
        QCOMPARE(file->path, QDir(rig.folder()).filePath(file->fileName)); // "/" kept
        QCOMPARE(file->size, QFileInfo(file->path).size());
        QVERIFY(file->note.isEmpty());
    }
    QCOMPARE(found, records);
    QCOMPARE(dialog.browseButton->isVisible(), !complete);
    QCOMPARE(dialog.cancelButton->isVisible(), complete);
    if (complete) {
        QCOMPARE(dialog.currentFile, 0);
        QCOMPARE(rig.line(3), dialog.updateFiles.first()->path);
        QVERIFY(rig.line(1).isEmpty());
        QVERIFY(!dialog.worker->stopRequested);
    } else {
        QCOMPARE(rig.line(1), QString("No updates are available"));
        QVERIFY(rig.line(3).isEmpty());
        QVERIFY(!dialog.progressBar->isVisible());
        QVERIFY(dialog.worker->stopRequested);
    }
}

void TestUpdateScan::shouldKeepListingOrderAndHandFirstFileToWorker()
{
    DialogRig rig;
    rig.addUpdateSet();
    CCalcFWUpdateMSDialog& dialog = rig.start();
    const QFileInfoList listing =
        QDir(rig.folder()).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
    QStringList listed, scanned;
    for (const QFileInfo& entry : listing)
        listed << entry.fileName();
    for (const CUpdateFile* file : dialog.updateFiles)
        scanned << file->fileName;
    QCOMPARE(scanned, listed);
    const CUpdateFile* first = dialog.updateFiles.first();
    QCOMPARE(dialog.worker->filePath(), first->path);
    QCOMPARE(qint64(dialog.worker->diskOffset()), qint64(first->diskOffset));
}

void TestUpdateScan::shouldReportMissingFolder()
{
    DialogRig rig;
    CCalcFWUpdateMSDialog& dialog = rig.construct(rig.folder() + "/absent", 3);
    dialog.show();
    dialog.scanUpdateFolder();
    QCOMPARE(rig.line(1), QString::fromUtf8("Aucune mise à jour disponible"));
    QVERIFY(dialog.browseButton->isVisible());
    QVERIFY(dialog.updateFiles.isEmpty());
}

void TestUpdateScan::shouldSeeOnlyNewFolderAfterBrowsing()
{
    DialogRig rig;
    rig.addFile("ZENTA_APP.DAT");
    rig.addFile("ZENTA_OS.ROM");
    CCalcFWUpdateMSDialog& dialog = rig.start();
    QCOMPARE(dialog.updateFiles.size(), 2);

    const QString other = rig.addFile("legacy/"); // a second folder with a complete legacy set
    rig.addUpdateSet({"legacy/LUNAPACK.DAT", "legacy/QORVAARM.ROM", "legacy/KESTOL.DAT"});
    answerFolderBrowser(other, true);
    dialog.browseButton->click();
    QCOMPARE(dialog.updateFolder, other);
    QCOMPARE(dialog.updateFiles.size(), 3);
    for (const CUpdateFile* file : dialog.updateFiles)
        QVERIFY(file->path.startsWith(other + "/"));
    QVERIFY(!dialog.newGeneration);
    QVERIFY(dialog.browseButton->isHidden());
    QVERIFY(dialog.cancelButton->isVisible());
    QCOMPARE(rig.line(3), dialog.updateFiles.first()->path);
}

void TestUpdateScan::shouldChangeNothingWhenBrowsingIsCancelled()
{
    DialogRig rig;
    CCalcFWUpdateMSDialog& dialog = rig.start();
    const QString other = rig.addFile("complete/");
    rig.addUpdateSet(
        {"complete/ZENTA_APP.DAT", "complete/ZENTA_OS.ROM", "complete/ZENTA_KESTOL.DAT"});
    answerFolderBrowser(other, false);
    dialog.browseButton->click();
    QCOMPARE(dialog.updateFolder, rig.folder());
    QVERIFY(dialog.updateFiles.isEmpty());
    QVERIFY(dialog.browseButton->isVisible());
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    TestUpdateScan test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_updatescan.moc"
