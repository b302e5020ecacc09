#include "dialog_rig.h"

#include "device/types.h"
#include "worker/update_worker.h"

#include <QApplication>
#include <QDir>
#include <QProgressBar>
#include <QtTest>

using Offsets = QMap<QString, qint64>;

class TestUpdateScan : public QObject {
    Q_OBJECT
private slots:
    void shouldFindOneGenerationOfFiles_data();
    void shouldFindOneGenerationOfFiles();
    void shouldRefuseFileLargerThanItsPlace_data();
    void shouldRefuseFileLargerThanItsPlace();
    void shouldKeepListingOrderAndHandFirstFileToWorker();
    void shouldReportMissingFolder_data();
    void shouldReportMissingFolder();
    void shouldSeeOnlyNewFolderAfterBrowsing();
    void shouldChangeNothingWhenBrowsingIsCancelled();
};

void TestUpdateScan::shouldFindOneGenerationOfFiles_data()
{
    // A trailing "/" makes a directory, "name>target" a symbolic link.
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<Offsets>("records"); // file name -> disk offset
    QTest::addColumn<bool>("complete");
    QTest::addColumn<QString>("why"); // line 2 after the scan
    const Offsets newSet{
        {"ZENTA_APP.DAT", 0x500000}, {"ZENTA_OS.ROM", 0}, {"ZENTA_KESTOL.DAT", 0x100000}};
    const Offsets legacySet{
        {"LUNAPACK.DAT", 0x500000}, {"QORVAARM.ROM", 0}, {"KESTOL.DAT", 0x100000}};
    const QStringList newNames = newSet.keys();
    const QStringList legacyNames = legacySet.keys();
    const QString notOne = "The folder does not hold one update: ";
    QTest::newRow("new generation") << newNames << newSet << true << QString();
    QTest::newRow("legacy generation") << legacyNames << legacySet << true << QString();
    QTest::newRow("lower case keeps its case")
        << QStringList{"zenta_app.dat", "zenta_os.rom", "zenta_kestol.dat"}
        << Offsets{{"zenta_app.dat", 0x500000}, {"zenta_os.rom", 0}, {"zenta_kestol.dat", 0x100000}}
        << true << QString();
    QTest::newRow("legacy set and one new file")
        << legacyNames + QStringList{"ZENTA_OS.ROM"} << Offsets{{"ZENTA_OS.ROM", 0}} << false
        << notOne + "no applications image (ZENTA_APP.DAT); no KESTOL data file "
                    "(ZENTA_KESTOL.DAT).";
    QTest::newRow("all six files") << legacyNames + newNames << newSet << true << QString();
    QTest::newRow("two of three") << QStringList{"ZENTA_APP.DAT", "ZENTA_OS.ROM"}
                                  << Offsets{{"ZENTA_APP.DAT", 0x500000}, {"ZENTA_OS.ROM", 0}}
                                  << false << notOne + "no KESTOL data file (ZENTA_KESTOL.DAT).";
    QTest::newRow("directory with a file's name")
        << QStringList{"LUNAPACK.DAT", "QORVAARM.ROM", "KESTOL.DAT/"}
        << Offsets{{"LUNAPACK.DAT", 0x500000}, {"QORVAARM.ROM", 0}} << false
        << notOne + "no KESTOL data file (KESTOL.DAT).";
    QTest::newRow("directory with a new name decides nothing")
        << legacyNames + QStringList{"ZENTA_OS.ROM/"} << legacySet << true << QString();
    QTest::newRow("hidden and other files ignored")
        << newNames + QStringList{".ZENTA_OS.ROM", ".hidden", "README.TXT"} << newSet << true
        << QString();
#ifndef Q_OS_WIN
    // Windows' file systems take both cases for one name: the second file is the first one.
    QTest::newRow("same name in two cases")
        << newNames + QStringList{"zenta_app.dat"}
        << Offsets{{"ZENTA_APP.DAT", 0x500000},
                   {"zenta_app.dat", 0x500000},
                   {"ZENTA_OS.ROM", 0},
                   {"ZENTA_KESTOL.DAT", 0x100000}}
        << false << notOne + "2 applications images (ZENTA_APP.DAT, zenta_app.dat).";
    // Three accepted names, but two of them are one role: nothing may be written twice.
    QTest::newRow("one role twice, one missing")
        << QStringList{"ZENTA_OS.ROM", "zenta_os.rom", "ZENTA_KESTOL.DAT"}
        << Offsets{{"ZENTA_OS.ROM", 0}, {"zenta_os.rom", 0}, {"ZENTA_KESTOL.DAT", 0x100000}}
        << false
        << notOne + "no applications image (ZENTA_APP.DAT); 2 operating-system images "
                    "(ZENTA_OS.ROM, zenta_os.rom).";
#endif
    const QString longS = QString::fromUtf8("zenta_ke\u017Ftol.dat"); // upper-cases to "S"
    QTest::newRow("long s folds onto a role")
        << QStringList{"ZENTA_APP.DAT", "ZENTA_KESTOL.DAT", longS}
        << Offsets{{"ZENTA_APP.DAT", 0x500000}, {"ZENTA_KESTOL.DAT", 0x100000}, {longS, 0x100000}}
        << false
        << notOne +
               "no operating-system image (ZENTA_OS.ROM); 2 KESTOL data files "
               "(ZENTA_KESTOL.DAT, " +
               longS + ").";
#ifndef Q_OS_WIN
    // Opening it would never end, or write whatever the device gives. (A link made on Windows
    // is a shortcut file, a plain file.)
    QTest::newRow("link to a device")
        << QStringList{"ZENTA_APP.DAT", "ZENTA_OS.ROM", "ZENTA_KESTOL.DAT>/dev/null"}
        << Offsets{{"ZENTA_APP.DAT", 0x500000}, {"ZENTA_OS.ROM", 0}, {"ZENTA_KESTOL.DAT", 0x100000}}
        << false << QString("ZENTA_KESTOL.DAT: not a plain file");
#endif
    QTest::newRow("empty folder")
        << QStringList() << Offsets() << false
        << QString("The folder holds none of the update files (ZENTA_APP.DAT, ZENTA_OS.ROM, "
                   "ZENTA_KESTOL.DAT).");
}

void TestUpdateScan::shouldFindOneGenerationOfFiles()
{
    QFETCH(QStringList, entries);
    QFETCH(Offsets, records);
    QFETCH(bool, complete);
    QFETCH(QString, why);
    DialogRig rig;
    for (const QString& entry : entries) {
        const QStringList link = entry.split('>');
        if (link.size() == 2)
            QVERIFY(QFile::link(link[1], QDir(rig.folder()).filePath(link[0])));
        else
            rig.addFile(entry, entry.startsWith("ZENTA_OS") ? 0 : 1000);
    }
    CCalcFWUpdateMSDialog& dialog = rig.start();

    Offsets found;
    for (const CUpdateFile* file : dialog.updateFiles) {
        found.insert(file->fileName, file->diskOffset);
        // The system's own separators: "\" on Windows, where the engine opens the file by it.
        QCOMPARE(file->path, QDir::toNativeSeparators(QDir(rig.folder()).filePath(file->fileName)));
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
    QCOMPARE(rig.line(2), why);
}

void TestUpdateScan::shouldRefuseFileLargerThanItsPlace_data()
{
    QTest::addColumn<QStringList>("set");
    QTest::addColumn<QString>("large"); // the one file of the set that is not small
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("why"); // empty: the set is taken
    const QStringList newSet{"ZENTA_APP.DAT", "ZENTA_OS.ROM", "ZENTA_KESTOL.DAT"};
    const QStringList legacySet{"LUNAPACK.DAT", "QORVAARM.ROM", "KESTOL.DAT"};
    QTest::newRow("system image fills its place")
        << newSet << "ZENTA_OS.ROM" << qint64(0x100000) << QString();
    QTest::newRow("system image one byte over")
        << newSet << "ZENTA_OS.ROM" << qint64(0x100001)
        << "ZENTA_OS.ROM: 1048577 bytes, but its place on the calculator holds 1048576";
    QTest::newRow("legacy system image of 2 MiB")
        << legacySet << "QORVAARM.ROM" << qint64(0x200000)
        << "QORVAARM.ROM: 2097152 bytes, but its place on the calculator holds 1048576";
    QTest::newRow("KESTOL data fills its place")
        << newSet << "ZENTA_KESTOL.DAT" << qint64(0x400000) << QString();
    QTest::newRow("KESTOL data one byte over")
        << newSet << "ZENTA_KESTOL.DAT" << qint64(0x400001)
        << "ZENTA_KESTOL.DAT: 4194305 bytes, but its place on the calculator holds 4194304";
    // Its place ends with the calculator's disk, known only once one is connected.
    QTest::newRow("applications image larger than the others' places")
        << newSet << "ZENTA_APP.DAT" << qint64(0x400001) << QString();
}

void TestUpdateScan::shouldRefuseFileLargerThanItsPlace()
{
    QFETCH(QStringList, set);
    QFETCH(QString, large);
    QFETCH(qint64, size);
    QFETCH(QString, why);
    DialogRig rig;
    for (const QString& name : set)
        rig.addFile(name, name == large ? size : 1000);
    CCalcFWUpdateMSDialog& dialog = rig.start();
    QCOMPARE(dialog.updateFiles.size(), 3);
    if (why.isEmpty()) {
        QVERIFY(dialog.cancelButton->isVisible());
        QVERIFY(!dialog.worker->stopRequested);
    } else {
        QCOMPARE(rig.line(1), QString("No updates are available"));
        QVERIFY(dialog.browseButton->isVisible());
        QVERIFY(dialog.worker->stopRequested);
    }
    QCOMPARE(rig.line(2), why);
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

void TestUpdateScan::shouldReportMissingFolder_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("why");
    QTest::newRow("missing") << "absent" << QString::fromUtf8("Le dossier %1 n'existe pas.");
    // Past the longest path the system takes: it cannot even be looked at, which is no "missing".
    QTest::newRow("path too long")
        << QString(4100, 'a')
        << QString::fromUtf8("%1 : son chemin est trop long (%2 caractères, au plus %3)");
}

void TestUpdateScan::shouldReportMissingFolder()
{
    QFETCH(QString, name);
    QFETCH(QString, why);
    DialogRig rig;
    const QString folder = rig.folder() + "/" + name;
    CCalcFWUpdateMSDialog& dialog = rig.construct(folder, 3);
    dialog.show();
    dialog.scanUpdateFolder();
    QCOMPARE(rig.line(1), QString::fromUtf8("Aucune mise à jour disponible"));
    QString expected = why.arg(QDir::toNativeSeparators(folder));
    // As the system counts it: Windows in characters, Linux in bytes of UTF-8.
#ifdef Q_OS_WIN
    const int length = folder.size();
#else
    const int length = QFile::encodeName(folder).size();
#endif
    if (expected.contains("%2"))
        expected = expected.arg(length).arg(kSourcePathChars - 1);
    QCOMPARE(rig.line(2), expected);
    // A French sentence with a path is wider than the window: it wraps, clear of the picture.
    // (A path of thousands of characters is no sentence to lay out.)
    if (name.size() < 100) {
        QTRY_VERIFY(showsWholeLine(dialog, 2));
        QTRY_VERIFY(showsWholeLine(dialog, 4));
    }
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
    QVERIFY(!rig.line(2).isEmpty());

    const QString other = rig.addFile("legacy/"); // a second folder with a complete legacy set
    rig.addUpdateSet({"legacy/LUNAPACK.DAT", "legacy/QORVAARM.ROM", "legacy/KESTOL.DAT"});
    answerFolderBrowser(other, true);
    dialog.browseButton->click();
    QCOMPARE(dialog.updateFolder, other);
    QCOMPARE(dialog.updateFiles.size(), 3);
    for (const CUpdateFile* file : dialog.updateFiles)
        QVERIFY(file->path.startsWith(QDir::toNativeSeparators(other + "/")));
    QVERIFY(!dialog.newGeneration);
    QVERIFY(dialog.browseButton->isHidden());
    QVERIFY(dialog.cancelButton->isVisible());
    QCOMPARE(rig.line(3), dialog.updateFiles.first()->path);
    QVERIFY(rig.line(2).isEmpty()); // the earlier folder's fault is gone
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
