// Finding and loading Qt's own translations for a language number.
#pragma once

#include <QStringList>

class QTranslator;

// Loads Qt's own translations (the folder browser's buttons, the standard context menus) for a
// language number into `translator`, from the first of `folders` that has them. False for a
// language Qt's English serves, and when no folder has the file.
bool loadQtTranslations(QTranslator& translator, int language, const QStringList& folders);

// Where the program looks: translations/ beside it, where an installer ships them with Qt's
// libraries, then the folder of the Qt it runs with.
QStringList qtTranslationFolders();
