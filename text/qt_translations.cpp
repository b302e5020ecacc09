// Qt's own translations in the language the window speaks.
#include "text/qt_translations.h"

#include "text/languages.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

bool loadQtTranslations(QTranslator& translator, int language, const QStringList& folders)
{
    const char* locale = qtLocaleName(language);
    if (locale == nullptr)
        return false;
    const QString name = QString("qtbase_") + locale;
    for (const QString& folder : folders) {
        if (translator.load(name, folder))
            return true;
    }
    return false;
}

QStringList qtTranslationFolders()
{
    return {QCoreApplication::applicationDirPath() + "/translations",
            QLibraryInfo::location(QLibraryInfo::TranslationsPath)};
}
