// Finding the update files: the folder's generation, one file for each role that fits its
// place, and the hand-over of the current one to the worker.
#include "ui/update_dialog.h"

#include "ui/file_line_label.h"
#include "update/update_scan.h"
#include "worker/update_worker.h"

#include <QDir>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

void CCalcFWUpdateMSDialog::detectNewGeneration()
{
    newGeneration = isNewGenerationListing(listUpdateFolder(updateFolder));
}

bool CCalcFWUpdateMSDialog::isUpdateFile(const QString& name) const
{
    return isUpdateFileOf(name, newGeneration);
}

void CCalcFWUpdateMSDialog::clearUpdateFiles()
{
    qDeleteAll(updateFiles);
    updateFiles.clear();
}

void CCalcFWUpdateMSDialog::scanUpdateFolder()
{
    browseButton->hide();
    detectNewGeneration();
    clearUpdateFiles();
    updateFiles = updateFilesOf(listUpdateFolder(updateFolder), newGeneration, note);
    const UpdateProblem problem = updateFolderProblemOf(updateFolder, updateFiles, newGeneration);
    if (!problem.isNone()) {
        finishUpdate(translate("No updates are available", 622));
        setLine(describe(problem), 2);
        setHint(translate(WindowTexts::kFolderSearched)
                    .arg(QDir::toNativeSeparators(QDir::cleanPath(updateFolder))));
        browseButton->show();
        return;
    }
    setLine(QString(), 2); // an earlier folder's fault no longer holds
    setHint(QString());
    currentFile = 0;
    worker->setUpdateSet(updateSetOf(updateFiles));
    selectCurrentFile();
    // A folder picked after an earlier update had ended starts the update again.
    if (worker->stopRequested)
        restartUpdate();
}

void CCalcFWUpdateMSDialog::selectCurrentFile()
{
    const CUpdateFile* file = updateFiles.at(currentFile);
    cancelButton->show();
    setLine(file->path, 3);
    fileLine()->setCounter(
        translate(WindowTexts::kFileOfFiles).arg(currentFile + 1).arg(updateFiles.size()));
    timeLeft_.reset();
    progressBar->setFormat("%p%");
    worker->setTarget(file->path, file->diskOffset);
}

void CCalcFWUpdateMSDialog::restartUpdate()
{
    countdownMs = 0;
    busy = false;
    startOffered_ = false;
    setLine(QString(), 1);
    setButtonText(translate("Cancel", 2));
    cancelButton->setEnabled(true);
    progressBar->reset();
    progressBar->show();
    worker->requestRestart();
}
