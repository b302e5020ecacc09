#pragma once

#include "paced_host.h"

#include "ui/update_dialog.h"

#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>

#include <map>
#include <memory>

// One dialog on the paced test host, with an update folder of its own. Files written into the
// folder are also the test host's source files, under the path the dialog hands the worker.
class DialogRig {
public:
    DialogRig();
    ~DialogRig();

    TestHost& host() { return paced.host(); }
    // Writes a file of `size` bytes into the update folder (a directory for a name ending in
    // "/"); gives its path.
    QString addFile(const QString& name, std::int64_t size = 20000);
    void addUpdateSet(const QStringList& names = {"ZENTA_APP.DAT", "ZENTA_OS.ROM",
                                                  "ZENTA_KESTOL.DAT"});
    // As start-up does it: construct, show, scan. The worker starts in the constructor.
    CCalcFWUpdateMSDialog& start(int language = 1, bool scan = true, bool station = false);
    // Constructs only, with the command-line values given (an empty folder reads settings).
    CCalcFWUpdateMSDialog& construct(const QString& folder, int language, bool station = false);
    CCalcFWUpdateMSDialog& dialog() { return *dialog_; }

    QString line(int number) const { return dialog_->textLines[number - 1]->text(); }
    QString buttonText() const { return dialog_->cancelButton->text(); }
    QString folder() const { return folder_.path(); }
    // The bytes the calculator holds where the named file of the folder belongs.
    bool calculatorHolds(int disk, const QString& name, std::int64_t offset);
    // A fault the check before the first byte refuses, once the dialog has scanned its set:
    // "open" or "read", the last file cannot be opened or read; "disk", the calculator's disk
    // is too small for the applications image. Gives the last file.
    const CUpdateFile* breakSet(int disk, const QString& fault);

    PacedHost paced;

private:
    QTemporaryDir folder_;
    std::map<QString, std::int64_t> sizes_;
    std::unique_ptr<CCalcFWUpdateMSDialog> dialog_;
};

// Whether all of a text line is in view: its text fits in the line, wrapped where the line
// wraps, and the line keeps clear of the calculator's picture.
bool showsWholeLine(const CCalcFWUpdateMSDialog& dialog, int number);

// Once the folder browser is open (inside its modal loop): shows `folder` in it, selects the
// entry `select` there when one is given, and accepts or rejects.
void answerFolderBrowser(const QString& folder, bool accept, const QString& select = QString());
