// The updater's run: one copy only, the command line, the dialog, its first scan and the loop.
#include "app/startup.h"

#include "device/engine.h"
#include "settings/command_line.h"
#include "settings/single_instance.h"
#include "text/qt_translations.h"
#include "ui/update_dialog.h"
#include "worker/update_worker.h"

#include <QApplication>
#include <QThread>
#include <QTranslator>

int runUpdater(QApplication& app)
{
    SingleInstance instance(kSingleInstanceKey);
    if (!instance.take())
        return 0; // another copy runs: it is the one the user sees
    const CommandLine line = parseCommandLine(QCoreApplication::arguments());
    // Why a calculator disk failed (busy, permission, gone) goes to the log, never the window.
    SetEngineLog([](const char* reason) { qWarning("%s", reason); });
    // Lives until the process ends, as do the worker and its thread.
    auto* dialog = new CCalcFWUpdateMSDialog(line.updateFolder, line.language, line.station);
    // Known once the dialog has chosen the language; Qt's own windows (the folder browser) are
    // made later and speak it too.
    QTranslator qtTexts;
    if (loadQtTranslations(qtTexts, dialog->textStore.language(), qtTranslationFolders()))
        QCoreApplication::installTranslator(&qtTexts);
    QApplication::setActiveWindow(dialog);
    dialog->show();
    dialog->scanUpdateFolder();
    const int code = app.exec();
    // Let the worker's loop end before the process tears down what it uses; a transfer under
    // way (the window was closed between two files) is let finish.
    dialog->worker->requestStop();
    dialog->workerThread->quit();
    dialog->workerThread->wait();
    return code;
}
