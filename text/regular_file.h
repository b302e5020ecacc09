// Opening a file for reading only when it is a regular file, without waiting on anything else.
#pragma once

#include <QFile>
#include <QString>

// Opens `path` read-only into `file` when it names a regular file (search-path prefixes such as
// "resource:" resolved, links followed). Anything else - a FIFO, a device, a folder - is
// refused without being waited on: opening a FIFO for reading would block until a writer came.
bool openRegularFile(const QString& path, QFile* file);
