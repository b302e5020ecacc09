#include "dialog_rig.h"

#include "text/qt_translations.h"
#include "ui/time_left.h"
#include "worker/update_worker.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTranslator>
#include <QtTest>

#include <algorithm>

namespace {

constexpr int kUpdateTimeoutMs = 20000;

const QString kBackIntoUpdateMode("Put the calculator back into update mode before trying again.");

// The worker's report of a transfer's result, as its queued signal delivers it.
void reportResult(CCalcFWUpdateMSDialog& dialog, int result)
{
    QMetaObject::invokeMethod(&dialog, "onUpdaterRan", Qt::DirectConnection, Q_ARG(int, result));
}

} // namespace

// The words of the window: outcomes and hints in the user's language, counts in its plural
// forms, the time left, and Qt's own texts.
class TestWindowTexts : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void shouldHintWhatToDoForEveryFailure_data();
    void shouldHintWhatToDoForEveryFailure();
    void shouldAskForUpdateModeWhenRetriesAreUsedUp_data();
    void shouldAskForUpdateModeWhenRetriesAreUsedUp();
    void shouldCountCalculatorsInPluralFormOfLanguage_data();
    void shouldCountCalculatorsInPluralFormOfLanguage();
    void shouldEstimateTimeLeftFromProgress_data();
    void shouldEstimateTimeLeftFromProgress();
    void shouldLoadQtTranslationsOfLanguage_data();
    void shouldLoadQtTranslationsOfLanguage();
    void shouldPreferQtTranslationsBesideProgram();
    void shouldWordFolderProblemInLanguage_data();
    void shouldWordFolderProblemInLanguage();
    void shouldWordRefusalOfSetInLanguage_data();
    void shouldWordRefusalOfSetInLanguage();
    void shouldWordEveryProblemWithItsOwnText_data();
    void shouldWordEveryProblemWithItsOwnText();
};

void TestWindowTexts::shouldHintWhatToDoForEveryFailure_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("hint");
    const QString retry("Update failed (%1), Retry: 1");
    QTest::newRow("104") << 1 << 104 << retry.arg(104)
                         << "The calculator is gone: check the USB cable and that it is still in "
                            "update mode.";
    QTest::newRow("105") << 1 << 105 << retry.arg(105)
                         << "An update file cannot be opened: check that the folder is still "
                            "there and that its files can be read.";
#ifdef Q_OS_WIN
    QTest::newRow("107") << 1 << 107 << retry.arg(107)
                         << "The calculator cannot be opened: close any other program that uses "
                            "it (Explorer windows, backup or virus scanners) and try again.";
#else
    QTest::newRow("107") << 1 << 107 << retry.arg(107)
                         << "The calculator cannot be opened: install the updater's device rule, "
                            "or log in at this computer itself rather than remotely.";
#endif
    QTest::newRow("109") << 1 << 109 << retry.arg(109)
                         << "An update file changed while it was read, or its disk failed: copy "
                            "the update files again.";
    QTest::newRow("110") << 1 << 110 << retry.arg(110)
                         << "The computer ran out of memory: close other programs and try again.";
    QTest::newRow("111") << 1 << 111 << retry.arg(111)
                         << "An update file does not fit the calculator: it is not an update for "
                            "this calculator, or it is damaged. Get the update files again.";
    QTest::newRow("112") << 1 << 112 << retry.arg(112)
                         << "The connection to the calculator broke: plug it straight into this "
                            "computer, not into a hub, and try again.";
    QTest::newRow("an unknown code")
        << 1 << 99 << retry.arg(99)
        << "Try again; if it fails again, put the calculator back into update mode first.";
    QTest::newRow("112 in German")
        << 4 << 112 << "Update fehlgeschlagen (112), Wiederholung: 1"
        << QString::fromUtf8("Die Verbindung zum Rechner ist abgebrochen: Schließen Sie ihn "
                             "direkt an diesen Computer an, nicht an einen Hub, und versuchen Sie "
                             "es erneut.");
    QTest::newRow("104 in Japanese")
        << 8 << 104 << QString::fromUtf8("アップデート失敗 (104)、再試行: 1")
        << QString::fromUtf8("電卓が見つかりません。USB ケーブルと、電卓がアップデートモードのまま"
                             "かを確認してください。");
}

void TestWindowTexts::shouldHintWhatToDoForEveryFailure()
{
    QFETCH(int, language);
    QFETCH(int, result);
    QFETCH(QString, outcome);
    QFETCH(QString, hint);
    DialogRig rig;
    rig.addUpdateSet();
    CCalcFWUpdateMSDialog& dialog = rig.start(language);
    reportResult(dialog, result);
    QCOMPARE(rig.line(1), outcome);
    QCOMPARE(rig.line(4), hint);
    // A success of the next attempt: the hint has had its day.
    QMetaObject::invokeMethod(&dialog, "onDownloadActive", Qt::DirectConnection);
    QVERIFY(rig.line(4).isEmpty());
}

void TestWindowTexts::shouldAskForUpdateModeWhenRetriesAreUsedUp_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("hint");
    QTest::newRow("English") << 1 << "Update failed (104)"
                             << "The calculator is gone: check the USB cable and that it is "
                                "still in update mode. " +
                                    kBackIntoUpdateMode;
    QTest::newRow("French") << 3 << QString::fromUtf8("Échec de la mise à jour (104)")
                            << QString::fromUtf8(
                                   "La calculatrice a disparu : vérifiez le câble USB et qu'elle "
                                   "est toujours en mode mise à jour. Remettez la calculatrice "
                                   "en mode mise à jour avant de réessayer.");
}

void TestWindowTexts::shouldAskForUpdateModeWhenRetriesAreUsedUp()
{
    QFETCH(int, language);
    QFETCH(QString, outcome);
    QFETCH(QString, hint);
    DialogRig rig;
    rig.addUpdateSet();
    CCalcFWUpdateMSDialog& dialog = rig.start(language);
    dialog.worker->transferStarted = true; // the results below come from transfers
    for (int attempt = 1; attempt <= 6; ++attempt)
        reportResult(dialog, 104);
    QCOMPARE(rig.line(1), outcome);
    QCOMPARE(rig.line(4), hint);
}

void TestWindowTexts::shouldCountCalculatorsInPluralFormOfLanguage_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("shown");
    const auto row = [](const char* name, int language, int count, const char* shown) {
        QTest::newRow(name) << language << count << QString::fromUtf8(shown);
    };
    row("English, one", 1, 1, "Updating 1 calculator");
    row("English, three", 1, 3, "Updating 3 calculators");
    row("French, one", 3, 1, "Mise à jour de 1 calculatrice");
    row("French, three", 3, 3, "Mise à jour de 3 calculatrices");
    row("German, one", 4, 1, "1 Rechner wird aktualisiert");
    row("German, three", 4, 3, "3 Rechner werden aktualisiert");
    row("Spanish, one", 5, 1, "Actualizando 1 calculadora");
    row("Spanish, three", 5, 3, "Actualizando 3 calculadoras");
    row("Dutch, one", 6, 1, "1 rekenmachine wordt bijgewerkt");
    row("Dutch, three", 6, 3, "3 rekenmachines worden bijgewerkt");
    row("Portuguese, one", 7, 1, "Atualizando 1 calculadora");
    row("Portuguese, three", 7, 3, "Atualizando 3 calculadoras");
    // One form only.
    row("Chinese, one", 2, 1, "正在更新 1 台计算器");
    row("Chinese, three", 2, 3, "正在更新 3 台计算器");
    row("Japanese, one", 8, 1, "1 台の電卓をアップデートしています");
    row("Japanese, sixteen", 8, 16, "16 台の電卓をアップデートしています");
    row("none found yet", 3, 0, "");
}

void TestWindowTexts::shouldCountCalculatorsInPluralFormOfLanguage()
{
    QFETCH(int, language);
    QFETCH(int, count);
    QFETCH(QString, shown);
    DialogRig rig;
    rig.addUpdateSet();
    CCalcFWUpdateMSDialog& dialog = rig.start(language);
    QMetaObject::invokeMethod(&dialog, "onCalculatorsCounted", Qt::DirectConnection,
                              Q_ARG(int, count), Q_ARG(int, count));
    QCOMPARE(rig.line(2), shown);
    QVERIFY(rig.line(4).isEmpty()); // none left over
}

void TestWindowTexts::shouldEstimateTimeLeftFromProgress_data()
{
    QTest::addColumn<QList<int>>("percents");
    QTest::addColumn<QList<int>>("times"); // ms, one per percent
    QTest::addColumn<int>("secondsLeft");
    QTest::addColumn<QString>("shown");
    QTest::newRow("a tenth in 10 s") << QList<int>{0, 10} << QList<int>{0, 10000} << 90 << "1:30";
    QTest::newRow("too little yet") << QList<int>{0, 1} << QList<int>{0, 5000} << -1 << "";
    QTest::newRow("too soon yet") << QList<int>{0, 30} << QList<int>{0, 1000} << -1 << "";
    QTest::newRow("rounded up") << QList<int>{0, 50} << QList<int>{0, 2500} << 3 << "0:03";
    QTest::newRow("a new file starts over")
        << QList<int>{0, 90, 2, 12} << QList<int>{0, 9000, 9500, 109500} << 880 << "14:40";
    QTest::newRow("an hour and more")
        << QList<int>{0, 2} << QList<int>{0, 75000} << 3675 << "1:01:15";
    QTest::newRow("done") << QList<int>{0, 100} << QList<int>{0, 9000} << -1 << "";
}

void TestWindowTexts::shouldEstimateTimeLeftFromProgress()
{
    QFETCH(QList<int>, percents);
    QFETCH(QList<int>, times);
    QFETCH(int, secondsLeft);
    QFETCH(QString, shown);
    TimeLeft estimate;
    for (int i = 0; i < percents.size(); ++i)
        estimate.report(percents[i], times[i]);
    QCOMPARE(estimate.secondsLeft(), secondsLeft);
    if (secondsLeft >= 0)
        QCOMPARE(formatDuration(secondsLeft), shown);
    estimate.reset();
    QCOMPARE(estimate.secondsLeft(), -1);
}

void TestWindowTexts::shouldLoadQtTranslationsOfLanguage_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<bool>("loaded");
    QTest::newRow("not chosen") << 0 << false;
    QTest::newRow("English: Qt's own") << 1 << false;
    const char* const names[] = {"Chinese", "French",     "German",  "Spanish",
                                 "Dutch",   "Portuguese", "Japanese"};
    for (int language = 2; language <= 8; ++language)
        QTest::newRow(names[language - 2]) << language << true;
}

void TestWindowTexts::shouldLoadQtTranslationsOfLanguage()
{
    QFETCH(int, language);
    QFETCH(bool, loaded);
    // On Windows, where the Qt has no translations of its own, they are those shipped beside the
    // program.
    QTranslator translator;
    QCOMPARE(loadQtTranslations(translator, language, qtTranslationFolders()), loaded);
    QCOMPARE(translator.isEmpty(), !loaded);
    if (language == 4) // the folder browser's own words
        QCOMPARE(translator.translate("QFileDialog", "&Choose"), QString("&Auswählen"));
}

// The Windows layout: the program ships Qt's translations in translations/ beside it.
void TestWindowTexts::shouldPreferQtTranslationsBesideProgram()
{
    QTemporaryDir empty;
    QTemporaryDir shipped;
    QString source;
    for (const QString& folder : qtTranslationFolders()) {
        if (source.isEmpty() && QFile::exists(folder + "/qtbase_fr.qm"))
            source = folder + "/qtbase_fr.qm";
    }
    QVERIFY2(!source.isEmpty(), "no Qt translations, neither beside the program nor Qt's own");
    QVERIFY(QFile::copy(source, shipped.filePath("qtbase_fr.qm")));
    QTranslator translator;
    QVERIFY(loadQtTranslations(translator, 3, {empty.path(), shipped.path()}));
    QVERIFY(!translator.isEmpty());
    QTranslator none;
    QVERIFY(!loadQtTranslations(none, 4, {empty.path(), shipped.path()}));
}

void TestWindowTexts::shouldWordFolderProblemInLanguage_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<bool>("folderGone");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("oversized"); // a file too big for its place
    QTest::addColumn<QString>("note");      // %1: the folder
    const QStringList none;
    const QStringList systemOnly{"ZENTA_OS.ROM"};
    const QStringList rest{"ZENTA_APP.DAT", "ZENTA_KESTOL.DAT"};
    const auto row = [](const char* name, int language, bool gone, const QStringList& files,
                        const char* oversized, const char* note) {
        QTest::newRow(name) << language << gone << files << QString(oversized)
                            << QString::fromUtf8(note);
    };
    row("folder gone, English", 1, true, none, "", "The folder %1 does not exist.");
    row("folder gone, French", 3, true, none, "", "Le dossier %1 n'existe pas.");
    row("no update file, English", 1, false, {"README.TXT"}, "",
        "The folder holds none of the update files (ZENTA_APP.DAT, ZENTA_OS.ROM, "
        "ZENTA_KESTOL.DAT).");
    row("no update file, German", 4, false, {"README.TXT"}, "",
        "Der Ordner enthält keine der Update-Dateien (ZENTA_APP.DAT, ZENTA_OS.ROM, "
        "ZENTA_KESTOL.DAT).");
    row("roles missing, English", 1, false, systemOnly, "",
        "The folder does not hold one update: no applications image (ZENTA_APP.DAT); no KESTOL "
        "data file (ZENTA_KESTOL.DAT).");
    row("roles missing, French", 3, false, systemOnly, "",
        "Le dossier ne contient pas exactement une mise à jour : aucune image des applications "
        "(ZENTA_APP.DAT) ; aucun fichier de données KESTOL (ZENTA_KESTOL.DAT).");
#ifndef Q_OS_WIN
    // Two names that differ only in letter case are two files only where names keep their case.
    const QStringList twoSystems{"ZENTA_APP.DAT", "ZENTA_OS.ROM", "ZENTA_KESTOL.DAT",
                                 "zenta_os.rom"};
    row("role twice, English", 1, false, twoSystems, "",
        "The folder does not hold one update: 2 operating-system images (ZENTA_OS.ROM, "
        "zenta_os.rom).");
    row("role twice, Japanese", 8, false, twoSystems, "",
        "フォルダーの内容がひとつのアップデートになっていません: OS イメージが 2 個あります "
        "(ZENTA_OS.ROM, zenta_os.rom)。");
#endif
    row("too big for its place, English", 1, false, rest, "ZENTA_OS.ROM",
        "ZENTA_OS.ROM: 2097152 bytes, but its place on the calculator holds 1048576");
    row("too big for its place, Spanish", 5, false, rest, "ZENTA_OS.ROM",
        "ZENTA_OS.ROM: 2097152 bytes, pero su lugar en la calculadora solo admite 1048576");
}

// The note after "No updates are available" says in the user's language what is wrong.
void TestWindowTexts::shouldWordFolderProblemInLanguage()
{
    QFETCH(int, language);
    QFETCH(bool, folderGone);
    QFETCH(QStringList, files);
    QFETCH(QString, oversized);
    QFETCH(QString, note);
    DialogRig rig;
    for (const QString& name : files)
        rig.addFile(name);
    if (!oversized.isEmpty())
        rig.addFile(oversized, 0x200000);
    const QString gone = QDir::toNativeSeparators(rig.folder() + "/gone");
    CCalcFWUpdateMSDialog& dialog =
        folderGone ? rig.construct(gone, language) : rig.start(language, false);
    dialog.scanUpdateFolder();
    QCOMPARE(rig.line(2), note.contains("%1") ? note.arg(gone) : note);
}

void TestWindowTexts::shouldWordRefusalOfSetInLanguage_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("reason"); // %1: the refused file, or the applications image's size
    QTest::newRow("cannot open, English") << 1 << "open"
                                          << "%1: cannot be opened as a plain file";
    QTest::newRow("cannot open, French")
        << 3 << "open" << QString::fromUtf8("%1 : ne peut pas être ouvert comme fichier ordinaire");
    QTest::newRow("cannot read, English") << 1 << "read"
                                          << "%1: cannot be read to its end";
    QTest::newRow("cannot read, Dutch") << 6 << "read"
                                        << "%1: kan niet tot het einde worden gelezen";
    QTest::newRow("past the disk's end, English")
        << 1 << "disk"
        << "ZENTA_APP.DAT: %1 bytes, but its place on the calculator holds 1000";
    QTest::newRow("past the disk's end, French")
        << 3 << "disk"
        << QString::fromUtf8(
               "ZENTA_APP.DAT : %1 octets, mais sa place sur la calculatrice n'en contient "
               "que 1000");
}

// The check before the first byte names the refused file and why in the user's language.
void TestWindowTexts::shouldWordRefusalOfSetInLanguage()
{
    QFETCH(int, language);
    QFETCH(QString, fault);
    QFETCH(QString, reason);
    DialogRig rig;
    const int disk = rig.host().AddCalculator("A1");
    rig.addUpdateSet();
    CCalcFWUpdateMSDialog& dialog = rig.start(language);
    QCOMPARE(dialog.updateFiles.size(), 3);
    const CUpdateFile* last = rig.breakSet(disk, fault);
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.busy && !rig.line(2).isEmpty(), kUpdateTimeoutMs);
    const CUpdateFile* applications =
        *std::find_if(dialog.updateFiles.begin(), dialog.updateFiles.end(),
                      [](const CUpdateFile* file) { return file->fileName == "ZENTA_APP.DAT"; });
    QCOMPARE(rig.line(2),
             reason.arg(fault == "disk" ? QString::number(applications->size) : last->fileName));
    dialog.close();
}

void TestWindowTexts::shouldWordEveryProblemWithItsOwnText_data()
{
    QTest::addColumn<int>("kind");
    for (int kind = int(ProblemText::NoFolderSet); kind <= int(ProblemText::PartSeparator); ++kind)
        QTest::newRow(englishProblemText(ProblemText(kind))) << kind;
}

// Each kind has a text of the window's own, with the same English default as the command line's.
void TestWindowTexts::shouldWordEveryProblemWithItsOwnText()
{
    QFETCH(int, kind);
    const WindowText text = problemText(ProblemText(kind));
    QVERIFY(text.english);
    QCOMPARE(QString(text.english), QString(englishProblemText(ProblemText(kind))));
    int count = 0;
    const WindowText* all = windowTexts(&count);
    QVERIFY(std::any_of(all, all + count, [&](const WindowText& t) { return t.id == text.id; }));
    for (int other = int(ProblemText::NoFolderSet); other <= int(ProblemText::PartSeparator);
         ++other)
        QVERIFY(other == kind || problemText(ProblemText(other)).id != text.id);
}

QTEST_MAIN(TestWindowTexts)
#include "tst_windowtexts.moc"
