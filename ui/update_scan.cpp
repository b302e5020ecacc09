// Finding the update files: the folder's generation, one file for each role that fits its
// place, and the hand-over of the current one to the worker.
#include "ui/update_dialog.h"

#include "worker/update_worker.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace {

// Files only, no hidden ones, in the order the platform lists them.
QFileInfoList listFolder(const QString& folder)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return {};
    return QDir(folder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
}

// Why the files found are not an update, as one line for the user; empty when they are one. The
// applications image's place ends with the calculator's disk: it is weighed once one is there.
QString setProblem(const QString& folder, const QList<CUpdateFile*>& files, bool newGeneration)
{
    if (folder.isEmpty())
        return QString("No update folder is set.");
    if (!QFileInfo(folder).isDir())
        return QString("The folder %1 does not exist.").arg(QDir::toNativeSeparators(folder));
    QStringList names;
    for (const CUpdateFile* file : files)
        names << file->fileName;
    QString problem = updateSetProblem(names, newGeneration);
    const QVector<UpdateSetEntry> set = updateSetOf(files);
    for (int i = 0; problem.isEmpty() && i < set.size(); ++i) {
        // A link to a pipe or a device is listed too; reading it may never end.
        if (!QFileInfo(files[i]->path).isFile())
            problem = QString("%1: not a plain file").arg(files[i]->fileName);
        else
            problem = placeProblem(set[i], files[i]->size, {});
    }
    return problem;
}

} // namespace

void CCalcFWUpdateMSDialog::detectNewGeneration()
{
    newGeneration = false;
    for (const QFileInfo& entry : listFolder(updateFolder)) {
        if (!entry.isDir() && isNewGenerationFile(entry.fileName())) {
            newGeneration = true;
            return;
        }
    }
}

bool CCalcFWUpdateMSDialog::isUpdateFile(const QString& name) const
{
    return newGeneration ? isNewGenerationFile(name) : isLegacyGenerationFile(name);
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
    for (const QFileInfo& entry : listFolder(updateFolder)) {
        if (entry.isDir() || !isUpdateFile(entry.fileName()))
            continue;
        auto* file = new CUpdateFile;
        file->fileName = entry.fileName();
        // Native separators: "\" on Windows, and "/" where the worker opens the file by it.
        file->path = QDir::toNativeSeparators(entry.absoluteFilePath());
        file->size = entry.size();
        file->diskOffset = diskOffsetFor(entry.fileName());
        file->note = note;
        updateFiles.append(file);
    }
    const QString problem = setProblem(updateFolder, updateFiles, newGeneration);
    if (!problem.isEmpty()) {
        finishUpdate(translate("No updates are available", 622));
        setLine(problem, 2);
        browseButton->show();
        return;
    }
    setLine(QString(), 2); // an earlier folder's fault no longer holds
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
    worker->setTarget(file->path, file->diskOffset);
}

void CCalcFWUpdateMSDialog::restartUpdate()
{
    countdownMs = 0;
    busy = false;
    startOffered_ = false;
    setLine(QString(), 1);
    cancelButton->setText(translate("Cancel", 2));
    cancelButton->setEnabled(true);
    progressBar->reset();
    progressBar->show();
    worker->requestRestart();
}
