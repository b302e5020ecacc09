#include "app/settings.h"

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
    static const char* const kCodes[] = {"EN", "ZH", "FR", "DE", "ES", "NL", "PT", "JA"};
    for (int i = 0; i < 8; ++i) {
        if (code == QLatin1String(kCodes[i]))
            return i + 1;
    }
    return 1;
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
