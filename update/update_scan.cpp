// Finding the update files: the folder's listing, its generation, the accepted files and why
// they are not one update.
#include "update/update_scan.h"

#include "device/types.h"

#include <QDir>
#include <QFile>

namespace {

// The longest path the updater takes, as the system counts it (Linux: bytes of UTF-8).
constexpr int kLongestPath = kSourcePathChars - 1;

int pathLength(const QString& path)
{
#ifdef Q_OS_WIN
    return path.size();
#else
    return QFile::encodeName(path).size();
#endif
}

// A path past the limit cannot even be looked at: it must not read as missing or as no file.
UpdateProblem pathTooLong(const QString& name, const QString& path)
{
    if (pathLength(path) <= kLongestPath)
        return {};
    return {ProblemText::PathTooLong,
            {name, QString::number(pathLength(path)), QString::number(kLongestPath)},
            {}};
}

} // namespace

QFileInfoList listUpdateFolder(const QString& folder)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return {};
    return QDir(folder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
}

bool isNewGenerationListing(const QFileInfoList& listing)
{
    for (const QFileInfo& entry : listing) {
        if (!entry.isDir() && isNewGenerationFile(entry.fileName()))
            return true;
    }
    return false;
}

bool isUpdateFileOf(const QString& name, bool newGeneration)
{
    return newGeneration ? isNewGenerationFile(name) : isLegacyGenerationFile(name);
}

QList<CUpdateFile*> updateFilesOf(const QFileInfoList& listing, bool newGeneration,
                                  const QByteArray& note)
{
    QList<CUpdateFile*> files;
    for (const QFileInfo& entry : listing) {
        if (entry.isDir() || !isUpdateFileOf(entry.fileName(), newGeneration))
            continue;
        auto* file = new CUpdateFile;
        file->fileName = entry.fileName();
        // Native separators: "\" on Windows, and "/" where the worker opens the file by it.
        file->path = QDir::toNativeSeparators(entry.absoluteFilePath());
        file->size = entry.size();
        file->diskOffset = diskOffsetFor(entry.fileName());
        file->note = note;
        files.append(file);
    }
    return files;
}

// The applications image's place ends with the calculator's disk: it is weighed once one is
// there.
QString updateFolderProblem(const QString& folder, const QList<CUpdateFile*>& files,
                            bool newGeneration)
{
    return describeProblem(updateFolderProblemOf(folder, files, newGeneration));
}

UpdateProblem updateFolderProblemOf(const QString& folder, const QList<CUpdateFile*>& files,
                                    bool newGeneration)
{
    if (folder.isEmpty())
        return {ProblemText::NoFolderSet, {}, {}};
    const UpdateProblem folderTooLong = pathTooLong(QDir::toNativeSeparators(folder), folder);
    if (!folderTooLong.isNone())
        return folderTooLong;
    if (!QFileInfo(folder).isDir())
        return {ProblemText::FolderMissing, {QDir::toNativeSeparators(folder)}, {}};
    QStringList names;
    for (const CUpdateFile* file : files)
        names << file->fileName;
    UpdateProblem problem = updateSetProblemOf(names, newGeneration);
    const QVector<UpdateSetEntry> set = updateSetOf(files);
    for (int i = 0; problem.isNone() && i < set.size(); ++i) {
        problem = pathTooLong(files[i]->fileName, files[i]->path);
        if (!problem.isNone())
            break;
        // A link to a pipe or a device is listed too; reading it may never end.
        if (!QFileInfo(files[i]->path).isFile())
            problem = {ProblemText::NotPlainFile, {files[i]->fileName}, {}};
        else
            problem = placeProblemOf(set[i], files[i]->size, {});
    }
    return problem;
}
