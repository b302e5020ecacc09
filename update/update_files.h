#pragma once

#include "update/update_set.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>

// One accepted firmware file of the update folder, as the scan found it.
struct CUpdateFile {
    QString path;     // absolute, in the platform's native separators: shown and opened by it
    QString fileName; // as the listing gives it, in its own letter case
    QByteArray note;  // the dialog's note at the time of the scan
    std::int64_t size = 0;
    std::int64_t diskOffset = 0;
};

// What a file is in an update. Every update holds each role exactly once.
enum class UpdateRole { None, Applications, System, Kestol };

// File-name rules. Names are compared whole, after conversion to upper case, so that any name
// that upper-cases to an accepted one (another letter case, a long s) counts as that file.
bool isNewGenerationFile(const QString& name);
bool isLegacyGenerationFile(const QString& name);
// The role of a file of either generation by its name; None for any other name.
UpdateRole roleOf(const QString& name);
// Where on the calculator's disk a file of this name goes; 0 for any other name.
std::int64_t diskOffsetFor(const QString& name);
// Where the place of a file of this name ends: the next image's offset, or -1 for the
// applications image, whose place ends with the calculator's disk.
std::int64_t placeEndFor(const QString& name);

// Why these accepted file names are not one update of their generation (a role missing or
// there more than once); none when they are.
UpdateProblem updateSetProblemOf(const QStringList& fileNames, bool newGeneration);

// The files in the order they are written, as the check before the first transfer takes them.
QVector<UpdateSetEntry> updateSetOf(const QList<CUpdateFile*>& files);
