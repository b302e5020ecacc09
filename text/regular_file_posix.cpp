// openRegularFile on POSIX systems: opened without blocking, then checked on the open descriptor.
#include "text/regular_file.h"

#include <QFileInfo>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool openRegularFile(const QString& path, QFile* file)
{
    // Opened without blocking first and checked on the open descriptor, so that nothing put in
    // the file's place between a check and the open can make it wait.
    const QByteArray resolved = QFile::encodeName(QFileInfo(path).filePath());
    const int fd = ::open(resolved.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return false;
    }
    return file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
}
