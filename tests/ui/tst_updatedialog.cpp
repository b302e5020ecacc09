#include "dialog_rig.h"

#include "ui/file_line_label.h"
#include "worker/update_worker.h"

#include <QAccessible>

#include <QApplication>
#include <QBoxLayout>
#include <QDir>
#include <QProgressBar>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

namespace {

QTemporaryDir* g_home = nullptr;

// The file the updater's settings come from in this run (main points them there).
#ifdef Q_OS_WIN
const char kSettingsFile[] = "/config/KZ/Quillon.ini";
#else
const char kSettingsFile[] = "/config/KZ/Quillon.conf";
#endif

void store(const QVariantMap& values)
{
    QSettings settings(g_home->path() + kSettingsFile, QSettings::IniFormat);
    settings.clear();
    for (auto it = values.begin(); it != values.end(); ++it)
        settings.setValue(it.key(), it.value());
    settings.sync();
}

// What a layout holds, in order: "layout", "stretch", "spacing 10" or a widget's object name.
QStringList itemsOf(QLayout* layout)
{
    QStringList items;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (item->layout() != nullptr)
            items << "layout";
        else if (item->widget() != nullptr)
            items << item->widget()->objectName();
        else if (item->spacerItem()->sizePolicy().horizontalPolicy() == QSizePolicy::Expanding ||
                 item->spacerItem()->sizePolicy().verticalPolicy() == QSizePolicy::Expanding)
            items << "stretch";
        else
            items << QString("spacing %1").arg(item->spacerItem()->sizeHint().height());
    }
    return items;
}

} // namespace

class TestUpdateDialog : public QObject {
    Q_OBJECT
private slots:
    void shouldBuildWindowAsDescribed();
    void shouldLayOutWidgetsInOrder();
    void shouldShowTextsInLanguage_data();
    void shouldShowTextsInLanguage();
    void shouldShowWaitingDots_data();
    void shouldShowWaitingDots();
    void shouldTakeFolderAndLanguageFromSettings_data();
    void shouldTakeFolderAndLanguageFromSettings();
    void shouldLeaveSettingsUnreadWithFolderArgument();
    void shouldForgetDialogWhenItGoes();
    void shouldScanFolderChosenInBrowser_data();
    void shouldScanFolderChosenInBrowser();
    void shouldKeepFileNameOfLongPathInView();
    void shouldNameFolderSearchedWhenNoUpdateIsThere();
    void shouldDescribeEveryWidgetToScreenReader_data();
    void shouldDescribeEveryWidgetToScreenReader();
    void shouldRunWholeFlowFromKeyboard();
    void shouldDrawPictureForHighDensityScreens();
};

void TestUpdateDialog::shouldBuildWindowAsDescribed()
{
    DialogRig rig;
    CCalcFWUpdateMSDialog& dialog = rig.start(1, false);
    QCOMPARE(g_dialog, &dialog);
    QCOMPARE(dialog.windowTitle(), QString("Firmware update"));
    QCOMPARE(rig.buttonText(), QString("Cancel"));
    QVERIFY(dialog.cancelButton->isVisible() && dialog.cancelButton->isEnabled());
    QVERIFY(dialog.browseButton->isHidden());
    QCOMPARE(dialog.browseButton->text(), QString("Browse for update files"));
    QCOMPARE(dialog.folderIcon.availableSizes(), (QList<QSize>{{16, 16}, {32, 32}}));
    QCOMPARE(dialog.appIcon.availableSizes(), (QList<QSize>{{16, 16}, {64, 64}}));
    QVERIFY(!dialog.windowIcon().isNull());
    const auto* picture = dialog.findChild<QLabel*>("pictureLabel");
    QCOMPARE(picture->pixmap(Qt::ReturnByValue).size(), QSize(64, 64));
    for (int line = 1; line <= 4; ++line)
        QVERIFY(rig.line(line).isEmpty());
    QVERIFY(dialog.progressBar->isVisible());
    QCOMPARE(dialog.progressBar->value(), -1); // below its range: no value yet
    QCOMPARE(dialog.progressBar->maximum(), 100);
    QVERIFY(dialog.progressBar->styleSheet().contains("background-color: #0096d6"));
    QCOMPARE(dialog.minimumWidth(), 525);
    dialog.resize(300, 100);
    QCOMPARE(dialog.width(), 525);
    QCOMPARE(dialog.parent(), nullptr);
    QVERIFY(dialog.workerThread->isRunning());
    QCOMPARE(dialog.worker->thread(), dialog.workerThread);
}

void TestUpdateDialog::shouldLayOutWidgetsInOrder()
{
    DialogRig rig;
    CCalcFWUpdateMSDialog& dialog = rig.start(1, false);
    QLayout* main = dialog.layout();
    QCOMPARE(itemsOf(main).join(", "),
             QString("layout, stretch, spacing 10, progressBar, spacing 10, layout"));
    QLayout* top = main->itemAt(0)->layout();
    QCOMPARE(itemsOf(top).join(", "), QString("layout, stretch, pictureLabel"));
    QCOMPARE(itemsOf(top->itemAt(0)->layout()).join(", "),
             QString("textLine1, textLine2, textLine3, textLine4"));
    QCOMPARE(itemsOf(main->itemAt(5)->layout()).join(", "),
             QString("stretch, browseButton, cancelButton"));
}

void TestUpdateDialog::shouldShowTextsInLanguage_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("browse");
    QTest::newRow("English") << 1 << "Firmware update"
                             << "Cancel"
                             << "Browse for update files";
    QTest::newRow("French") << 3 << QString::fromUtf8("Mise à jour du micrologiciel") << "Annuler"
                            << QString::fromUtf8("Rechercher les fichiers de mise à jour");
    QTest::newRow("Japanese") << 8 << QString::fromUtf8("ファームウェアのアップデート")
                              << QString::fromUtf8("キャンセル")
                              << QString::fromUtf8("アップデートファイルを参照");
    QTest::newRow("not chosen") << 0 << "Firmware update"
                                << "Cancel"
                                << "Browse for update files";
    QTest::newRow("out of range") << 12 << "Firmware update"
                                  << "Cancel"
                                  << "Browse for update files";
}

void TestUpdateDialog::shouldShowTextsInLanguage()
{
    QFETCH(int, language);
    QFETCH(QString, title);
    QFETCH(QString, button);
    QFETCH(QString, browse);
    DialogRig rig;
    CCalcFWUpdateMSDialog& dialog = rig.start(language, false);
    QCOMPARE(dialog.windowTitle(), title);
    QCOMPARE(rig.buttonText(), button);
    QCOMPARE(dialog.browseButton->text(), browse);
}

void TestUpdateDialog::shouldShowWaitingDots_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<QString>("text");
    QTest::newRow("no tick") << 1 << 0 << "Waiting for connection..";
    QTest::newRow("one tick") << 1 << 1 << "Waiting for connection...";
    QTest::newRow("four ticks") << 1 << 4 << "Waiting for connection......";
    QTest::newRow("negative") << 1 << -3 << "Waiting for connection..";
    QTest::newRow("French") << 3 << 2 << "En attente de connexion....";
}

void TestUpdateDialog::shouldShowWaitingDots()
{
    QFETCH(int, language);
    QFETCH(int, ticks);
    QFETCH(QString, text);
    DialogRig rig;
    CCalcFWUpdateMSDialog& dialog = rig.start(language, false);
    QMetaObject::invokeMethod(&dialog, "onWaitingTicks", Q_ARG(int, ticks));
    QCOMPARE(rig.line(1), text);
}

void TestUpdateDialog::shouldTakeFolderAndLanguageFromSettings_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("title");
#ifdef Q_OS_WIN
    // The profile's documents folder is the shell's, whatever HOME says.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
#else
    const QString documents = QDir(g_home->path()).filePath("Documents");
#endif
    QTest::newRow("nothing stored, English system")
        << QVariantMap() << documents + "/Quillon/Firmware"
        << "Firmware update";
    QTest::newRow("French without its own folder name")
        << QVariantMap{{"Language", 3}, {"WorkFolder", "D:\\Work\\Quillon"}}
        << "D:/Work/Quillon/Firmware" << QString::fromUtf8("Mise à jour du micrologiciel");
    QTest::newRow("language 9 ends as English")
        << QVariantMap{{"Language", 9}, {"WorkFolder", "/srv/q"}} << "/srv/q/Firmware"
        << "Firmware update";
}

void TestUpdateDialog::shouldTakeFolderAndLanguageFromSettings()
{
    QFETCH(QVariantMap, stored);
    QFETCH(QString, folder);
    QFETCH(QString, title);
    store(stored);
    DialogRig rig;
    CCalcFWUpdateMSDialog& dialog = rig.construct(QString(), 4);
    QCOMPARE(dialog.updateFolder, folder);
    QCOMPARE(dialog.windowTitle(), title);
}

void TestUpdateDialog::shouldLeaveSettingsUnreadWithFolderArgument()
{
    store({{"Language", 3}, {"WorkFolder", "/srv/q"}});
    QCoreApplication::setOrganizationName(QString());
    DialogRig rig;
    CCalcFWUpdateMSDialog& dialog = rig.start(0, false);
    QCOMPARE(dialog.updateFolder, rig.folder());
    QCOMPARE(dialog.textStore.language(), 0);
    QCOMPARE(dialog.windowTitle(), QString("Firmware update"));
    QVERIFY(QCoreApplication::organizationName().isEmpty());
}

void TestUpdateDialog::shouldForgetDialogWhenItGoes()
{
    {
        DialogRig rig;
        rig.start(1, false);
    }
    QCOMPARE(g_dialog, nullptr);
}

void TestUpdateDialog::shouldScanFolderChosenInBrowser_data()
{
    QTest::addColumn<QString>("shown");  // the folder the browser shows, under the update folder
    QTest::addColumn<QString>("select"); // the entry selected in it
    QTest::newRow("a folder selected in its parent") << ""
                                                     << "complete";
    QTest::newRow("nothing selected in the folder") << "complete"
                                                    << "";
}

void TestUpdateDialog::shouldScanFolderChosenInBrowser()
{
    QFETCH(QString, shown);
    QFETCH(QString, select);
    DialogRig rig;
    rig.addFile("ZENTA_OS.ROM");
    const QString complete = rig.addFile("complete/");
    rig.addUpdateSet(
        {"complete/ZENTA_APP.DAT", "complete/ZENTA_OS.ROM", "complete/ZENTA_KESTOL.DAT"});
    CCalcFWUpdateMSDialog& dialog = rig.start();
    QCOMPARE(rig.line(1), QString("No updates are available"));
    answerFolderBrowser(QDir(rig.folder()).filePath(shown), true, select);
    dialog.browseButton->click();
    QCOMPARE(QDir(dialog.updateFolder).canonicalPath(), QDir(complete).canonicalPath());
    QCOMPARE(dialog.updateFiles.size(), 3);
    QVERIFY(dialog.browseButton->isHidden());
}

void TestUpdateDialog::shouldKeepFileNameOfLongPathInView()
{
    DialogRig rig;
    rig.addUpdateSet();
    CCalcFWUpdateMSDialog& dialog = rig.start();
    auto* line = qobject_cast<FileLineLabel*>(dialog.textLines[2]);
    QVERIFY(line != nullptr);
    QCOMPARE(line->counter(), QString("File 1 of 3"));
    const QString path = QDir::toNativeSeparators(
        "/home/teacher/Documents/Class materials 2026/Calculators/Zenta firmware/"
        "Spring term update, checked by the school's IT department/Firmware/ZENTA_KESTOL.DAT");
    dialog.setLine(path, 3);
    // A platform plugin without fonts (the minimal one) measures every text as empty.
    if (line->fontMetrics().horizontalAdvance(path) < dialog.minimumWidth())
        QSKIP("texts have no width on this platform");
    dialog.resize(dialog.minimumWidth(), dialog.height());
    QApplication::processEvents();
    // The window can be narrower than the path: it is cut in the middle instead.
    QCOMPARE(dialog.width(), dialog.minimumWidth());
    const QString drawn = line->displayedText();
    QVERIFY2(drawn.contains(QChar(0x2026)), qPrintable(drawn));
    QVERIFY2(drawn.endsWith("ZENTA_KESTOL.DAT"), qPrintable(drawn));
    QVERIFY(drawn.startsWith(path.left(3)));
    // The counter keeps its room beside it.
    QVERIFY(line->fontMetrics().horizontalAdvance(drawn) +
                line->fontMetrics().horizontalAdvance(line->counter()) <=
            line->contentsRect().width());
    QCOMPARE(line->text(), path);
    QCOMPARE(line->toolTip(), path);
    // A wider window shows more of it, and all of it once there is room.
    dialog.resize(dialog.width() + 300, dialog.height());
    QApplication::processEvents();
    QVERIFY(line->displayedText().size() > drawn.size());
    dialog.resize(line->fontMetrics().horizontalAdvance(path + "File 1 of 3") + 300,
                  dialog.height());
    QApplication::processEvents();
    QCOMPARE(line->displayedText(), path);
    // The next file counts on.
    QMetaObject::invokeMethod(&dialog, "onUpdaterRan", Qt::DirectConnection, Q_ARG(int, 0));
    QCOMPARE(line->counter(), QString("File 2 of 3"));
    QCOMPARE(line->toolTip(), dialog.updateFiles[1]->path);
}

void TestUpdateDialog::shouldNameFolderSearchedWhenNoUpdateIsThere()
{
    DialogRig rig;
    rig.addFile("ZENTA_OS.ROM");
    rig.start(4);
    QCOMPARE(rig.line(1), QString("Keine Updates verfügbar"));
    QVERIFY(rig.line(2).contains("ZENTA_APP.DAT")); // what is missing
    QCOMPARE(rig.line(4), "Durchsuchter Ordner: " + QDir::toNativeSeparators(rig.folder()));
}

void TestUpdateDialog::shouldDescribeEveryWidgetToScreenReader_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QString>("progress");
    QTest::addColumn<QString>("file");
    QTest::newRow("English") << 1 << "Calculator"
                             << "Progress"
                             << "The update file being written";
    QTest::newRow("German") << 4 << "Rechner"
                            << "Fortschritt"
                            << "Die Update-Datei, die gerade geschrieben wird";
}

void TestUpdateDialog::shouldDescribeEveryWidgetToScreenReader()
{
    QFETCH(int, language);
    QFETCH(QString, picture);
    QFETCH(QString, progress);
    QFETCH(QString, file);
    DialogRig rig;
    rig.addUpdateSet();
    CCalcFWUpdateMSDialog& dialog = rig.start(language);
    const auto nameOf = [](QWidget* widget) {
        return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
    };
    const auto descriptionOf = [](QWidget* widget) {
        return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Description);
    };
    auto* pictureLabel = dialog.findChild<QLabel*>("pictureLabel");
    QCOMPARE(nameOf(pictureLabel), picture);
    QCOMPARE(nameOf(dialog.progressBar), progress);
    QList<QWidget*> widgets{pictureLabel, dialog.progressBar, dialog.cancelButton,
                            dialog.browseButton};
    for (QLabel* line : dialog.textLines)
        widgets << line;
    QSet<QString> descriptions;
    for (QWidget* widget : widgets) {
        QVERIFY2(!descriptionOf(widget).isEmpty(), qPrintable(widget->objectName()));
        descriptions << descriptionOf(widget);
    }
    QCOMPARE(descriptions.size(), widgets.size()); // each says what it is
    // A text line is read as what it shows; the file line in full, with its place in the set.
    QCOMPARE(nameOf(dialog.textLines[2]), dialog.updateFiles[0]->path);
    const auto* fileLine = qobject_cast<FileLineLabel*>(dialog.textLines[2]);
    QVERIFY(!fileLine->counter().isEmpty());
    QCOMPARE(descriptionOf(dialog.textLines[2]), file + "\n" + fileLine->counter());
    QCOMPARE(nameOf(dialog.cancelButton), rig.buttonText());
}

// Tab, Space and Escape reach everything the mouse does.
void TestUpdateDialog::shouldRunWholeFlowFromKeyboard()
{
    DialogRig rig;
    rig.addFile("complete/");
    rig.addUpdateSet(
        {"complete/ZENTA_APP.DAT", "complete/ZENTA_OS.ROM", "complete/ZENTA_KESTOL.DAT"});
    CCalcFWUpdateMSDialog& dialog = rig.start();
    QCOMPARE(rig.line(1), QString("No updates are available"));
    QApplication::setActiveWindow(&dialog);
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    // Tab walks the window's focus chain until it reaches the button, as a user would.
    for (int presses = 0;
         presses == 0 || (presses < 4 && QApplication::focusWidget() != dialog.browseButton);
         ++presses)
        QTest::keyClick(QApplication::focusWidget() != nullptr ? QApplication::focusWidget()
                                                               : static_cast<QWidget*>(&dialog),
                        Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(dialog.browseButton));
    answerFolderBrowser(QDir(rig.folder()).filePath("complete"), true);
    QTest::keyClick(dialog.browseButton, Qt::Key_Space);
    QCOMPARE(dialog.updateFiles.size(), 3);
    // The folder restarts the stopped worker, on its own thread: the countdown played below is
    // one the worker can only report once it runs again (on a loaded machine it may not yet).
    QTRY_VERIFY(!dialog.worker->stopRequested);
    QVERIFY(dialog.cancelButton->isVisible());
    QVERIFY(dialog.cancelButton->focusPolicy() & Qt::TabFocus);
    // The countdown: Space on the button starts the transfer at the next step.
    dialog.countdownMs = 3000;
    QMetaObject::invokeMethod(&dialog, "onWaitingStart", Qt::DirectConnection);
    QTest::keyClick(dialog.cancelButton, Qt::Key_Space);
    QCOMPARE(dialog.countdownMs.load(), 1000);
    QVERIFY(dialog.isVisible());
}

void TestUpdateDialog::shouldDrawPictureForHighDensityScreens()
{
    DialogRig rig;
    rig.start(1, false); // the window brings its images
    for (const char* size : {"64", "128", "256"}) {
        const QImage image(QString(":/CalculatorIconX%1.png").arg(size));
        QCOMPARE(image.width(), QString(size).toInt());
        QCOMPARE(image.height(), image.width());
    }
}

int main(int argc, char** argv)
{
    QTemporaryDir home;
    g_home = &home;
    QDir(home.path()).mkpath("Documents");
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qunsetenv("LC_ALL");
    qunsetenv("LC_NUMERIC");
    qputenv("LANG", "en_US.UTF-8");
#ifdef Q_OS_WIN
    // Windows keeps the settings in the registry: this run's come from a file of its own.
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.path() + "/config");
    QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, home.path() + "/system");
#endif
    // Qt's own folder browser, whatever the platform offers.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    TestUpdateDialog test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_updatedialog.moc"
