// The suite's identity, its stored settings as the updater reads them, the language of the
// system locale and the file prefixes beside the program.
#include "settings/settings.h"

#include "text/languages.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

void registerFilePrefixes()
{
    const QString base = QCoreApplication::applicationDirPath() + "/";
    QDir::setSearchPaths("icons", QStringList(base + "icons"));
    QDir::setSearchPaths("resource", QStringList(base + "resource"));
}

int languageOfLocaleName(const QString& localeName)
{
    const QString name = localeName.toUpper();
    const int underscore = name.lastIndexOf('_');
    const QString code = underscore < 0 ? QString() : name.left(underscore);
    // Russian has a code only as a fallback inside a file; a system in Russian gets English.
    const int language = languageByCode(code.toLatin1().constData());
    return language >= kLanguageEnglish && language <= kLanguageJapanese ? language
                                                                         : kLanguageEnglish;
}

int systemLanguage()
{
    return languageOfLocaleName(QLocale::system().name());
}

static QString defaultWorkFolder()
{
    const QStringList documents =
        QStandardPaths::standardLocations(QStandardPaths::DocumentsLocation);
    // A platform that names no documents folder still has a home.
    const QString base = documents.isEmpty() ? QDir::homePath() : documents.first();
    return base + "/Quillon";
}

StoredSettings loadSettings()
{
    QCoreApplication::setOrganizationName(kOrganizationName);
    QCoreApplication::setOrganizationDomain(kOrganizationDomain);
    QCoreApplication::setApplicationName(kApplicationName);
    const QSettings settings;
    StoredSettings stored;
    stored.language = settings.value("Language", systemLanguage()).toInt();
    stored.workFolder = settings.value("WorkFolder", defaultWorkFolder()).toString();
    stored.workFolder.replace('\\', '/');
    return stored;
}
