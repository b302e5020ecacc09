#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// One accepted firmware file of the update folder, as the scan found it.
struct CUpdateFile {
    QString path;     // absolute, in the platform's native separators: shown and opened by it
    QString fileName; // as the listing gives it, in its own letter case
    QByteArray note;  // the dialog's note at the time of the scan
    std::int64_t size = 0;
    std::int64_t diskOffset = 0;
};

// File-name rules. Names are compared whole, after conversion to upper case.
bool isNewGenerationFile(const QString& name);
bool isLegacyGenerationFile(const QString& name);
// Where on the calculator's disk a file of this name goes; 0 for any other name.
std::int64_t diskOffsetFor(const QString& name);
