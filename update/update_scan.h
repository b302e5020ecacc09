#pragma once

#include "update/update_files.h"

#include <QFileInfoList>

// Finding the update files in a folder, for the window and the command line alike.

// The folder's files in the order the platform lists them: no hidden ones, no directories'
// dot entries; empty when the folder is not set or does not exist.
QFileInfoList listUpdateFolder(const QString& folder);

// One file with a new-generation name anywhere in the listing makes it a new-generation folder.
bool isNewGenerationListing(const QFileInfoList& listing);

// A name of the folder's generation.
bool isUpdateFileOf(const QString& name, bool newGeneration);

// One record per accepted file, in listing order; the caller owns them.
QList<CUpdateFile*> updateFilesOf(const QFileInfoList& listing, bool newGeneration,
                                  const QByteArray& note = QByteArray());

// Why the files found are not an update, as one line for the user; empty when they are one.
QString updateFolderProblem(const QString& folder, const QList<CUpdateFile*>& files,
                            bool newGeneration);
UpdateProblem updateFolderProblemOf(const QString& folder, const QList<CUpdateFile*>& files,
                                    bool newGeneration);
