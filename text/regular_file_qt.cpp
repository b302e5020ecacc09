// openRegularFile elsewhere: checked with QFileInfo, then opened.
#include "text/regular_file.h"

#include <QFileInfo>

bool openRegularFile(const QString& path, QFile* file)
{
    if (!QFileInfo(path).isFile())
        return false;
    file->setFileName(path);
    return file->open(QIODevice::ReadOnly);
}
