#include "settings/command_line.h"
#include "settings/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>

namespace {

// HOME, the configuration folder and the locale are the test's own, set before Qt reads them.
QTemporaryDir* g_home = nullptr;

QString configFile()
{
    return g_home->path() + "/config/KZ/Quillon.conf";
}

void store(const QVariantMap& values)
{
    QSettings settings(configFile(), QSettings::IniFormat);
    settings.clear();
    for (auto it = values.begin(); it != values.end(); ++it)
        settings.setValue(it.key(), it.value());
    settings.sync();
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void shouldReadCommandLine_data();
    void shouldReadCommandLine();
    void shouldTakeLanguageFromLocaleName_data();
    void shouldTakeLanguageFromLocaleName();
    void shouldTakeLanguageFromSystemLocale();
    void shouldReadStoredSettings_data();
    void shouldReadStoredSettings();
    void shouldSetSuiteIdentity();
    void shouldRegisterPrefixesBesideProgram();
};

void TestSettings::shouldReadCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("language");
    QTest::addColumn<bool>("station");
    QTest::newRow("none") << QStringList() << QString() << 1 << false;
    QTest::newRow("one") << QStringList{"/upd"} << QString() << 1 << false;
    QTest::newRow("two") << QStringList{"/upd/x", "3"} << "/upd/x" << 3 << false;
    QTest::newRow("folder kept as given")
        << QStringList{"C:\\Upd\\", "4"} << "C:\\Upd\\" << 4 << false;
    QTest::newRow("first empty") << QStringList{"", "3"} << QString() << 3 << false;
    QTest::newRow("language not a number") << QStringList{"/upd", "fr"} << "/upd" << 0 << false;
    QTest::newRow("language out of range") << QStringList{"/upd", "12"} << "/upd" << 12 << false;
    QTest::newRow("language hexadecimal") << QStringList{"/upd", "0x3"} << "/upd" << 0 << false;
    QTest::newRow("three") << QStringList{"/upd", "3", "x"} << QString() << 1 << false;
    QTest::newRow("station alone") << QStringList{"--station"} << QString() << 1 << true;
    QTest::newRow("station, folder and language")
        << QStringList{"--station", "/upd/x", "3"} << "/upd/x" << 3 << true;
    QTest::newRow("station, language not a number")
        << QStringList{"--station", "/upd", "fr"} << "/upd" << 0 << true;
    QTest::newRow("station and one more")
        << QStringList{"--station", "/upd"} << QString() << 1 << true;
    QTest::newRow("station and three more")
        << QStringList{"--station", "/upd", "3", "x"} << QString() << 1 << true;
    // Only in front: after the two usual arguments it is a third one, and all are ignored.
    QTest::newRow("station last") << QStringList{"/upd", "3", "--station"} << QString() << 1
                                  << false;
    QTest::newRow("station and a language only")
        << QStringList{"--station", "3"} << QString() << 1 << true;
    // Only the first one is the option: the second is taken for the folder.
    QTest::newRow("station twice")
        << QStringList{"--station", "--station", "3"} << "--station" << 3 << true;
}

void TestSettings::shouldReadCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, folder);
    QFETCH(int, language);
    QFETCH(bool, station);
    const CommandLine line = parseCommandLine(QStringList("quillon-fwupdate") + arguments);
    QCOMPARE(line.updateFolder, folder);
    QCOMPARE(line.station, station);
    // An empty folder sends the dialog to the settings, whatever the language says.
    if (!folder.isEmpty())
        QCOMPARE(line.language, language);
}

void TestSettings::shouldTakeLanguageFromLocaleName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("language");
    QTest::newRow("English") << "en_US" << 1;
    QTest::newRow("Chinese, China") << "zh_CN" << 2;
    QTest::newRow("Chinese, Taiwan") << "zh_TW" << 2;
    QTest::newRow("French") << "fr_FR" << 3;
    QTest::newRow("German, Austria") << "de_AT" << 4;
    QTest::newRow("Spanish") << "es_MX" << 5;
    QTest::newRow("Dutch") << "nl_BE" << 6;
    QTest::newRow("Brazilian Portuguese") << "pt_BR" << 7;
    QTest::newRow("Japanese") << "ja_JP" << 8;
    QTest::newRow("lower case") << "pt_br" << 7;
    QTest::newRow("no underscore") << "de" << 1;
    QTest::newRow("C locale") << "C" << 1;
    QTest::newRow("script part") << "zh_Hans_CN" << 1;
    QTest::newRow("Russian") << "ru_RU" << 1;
}

void TestSettings::shouldTakeLanguageFromLocaleName()
{
    QFETCH(QString, name);
    QFETCH(int, language);
    QCOMPARE(languageOfLocaleName(name), language);
}

void TestSettings::shouldTakeLanguageFromSystemLocale()
{
    QCOMPARE(systemLanguage(), 7); // LANG=pt_BR.UTF-8, set in main
}

void TestSettings::shouldReadStoredSettings_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("workFolder");
    const QString documents = QDir(g_home->path()).filePath("Documents/Quillon");
    QTest::newRow("nothing stored") << QVariantMap() << 7 << documents;
    QTest::newRow("language 0 stays 0") << QVariantMap{{"Language", 0}} << 0 << documents;
    QTest::newRow("language 9 read as it is") << QVariantMap{{"Language", 9}} << 9 << documents;
    QTest::newRow("language not a number") << QVariantMap{{"Language", "fr"}} << 0 << documents;
    QTest::newRow("work folder with backslashes")
        << QVariantMap{{"Language", 3}, {"WorkFolder", "C:\\Users\\ana\\Quillon"}} << 3
        << "C:/Users/ana/Quillon";
}

void TestSettings::shouldReadStoredSettings()
{
    QFETCH(QVariantMap, stored);
    QFETCH(int, language);
    QFETCH(QString, workFolder);
    store(stored);
    const StoredSettings read = loadSettings();
    QCOMPARE(read.language, language);
    QCOMPARE(read.workFolder, workFolder);
    QVERIFY(!read.workFolder.contains('\\'));
}

void TestSettings::shouldSetSuiteIdentity()
{
    loadSettings();
    QCOMPARE(QCoreApplication::organizationName(), QString("KZ"));
    QCOMPARE(QCoreApplication::applicationName(), QString("Quillon"));
    QVERIFY(QCoreApplication::organizationDomain().endsWith(".example"));
    // The store it reads is the one of that identity.
    QCOMPARE(QSettings().fileName(), configFile());
}

void TestSettings::shouldRegisterPrefixesBesideProgram()
{
    QDir::setSearchPaths("icons", {"/elsewhere"});
    registerFilePrefixes();
    const QString base = QCoreApplication::applicationDirPath();
    QCOMPARE(QDir::searchPaths("icons"), QStringList(base + "/icons"));
    QCOMPARE(QDir::searchPaths("resource"), QStringList(base + "/resource"));
}

int main(int argc, char** argv)
{
    QTemporaryDir home;
    g_home = &home;
    QDir(home.path()).mkpath("Documents");
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qunsetenv("XDG_DOCUMENTS_DIR");
    qunsetenv("LC_ALL");
    qunsetenv("LC_NUMERIC");
    qunsetenv("LC_MESSAGES");
    qputenv("LANG", "pt_BR.UTF-8");
    QCoreApplication app(argc, argv);
    TestSettings test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settings.moc"
