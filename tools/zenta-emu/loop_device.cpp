// Attaching a loop device over a disk file (direct I/O, cleared after its last user) and letting
// go of it.
#include "loop_device.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

int OpenRetrying(const char* path, int flags)
{
    int fd;
    do {
        fd = open(path, flags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Configures a free loop device over the file; -1 with errno EBUSY when another process took
// the same device first.
int Configure(int control, int backing, std::string* node)
{
    const int number = ioctl(control, LOOP_CTL_GET_FREE);
    if (number < 0)
        return -1;
    *node = "/dev/loop" + std::to_string(number);
    const int fd = OpenRetrying(node->c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return -1;
    loop_config config;
    std::memset(&config, 0, sizeof config);
    config.fd = static_cast<unsigned>(backing);
    config.block_size = 512;
    config.info.lo_flags = LO_FLAGS_DIRECT_IO | LO_FLAGS_AUTOCLEAR;
    if (ioctl(fd, LOOP_CONFIGURE, &config) != 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

} // namespace

bool LoopDevice::Attach(const std::string& file, std::string* error)
{
    const int control = OpenRetrying("/dev/loop-control", O_RDWR | O_CLOEXEC);
    const int backing = OpenRetrying(file.c_str(), O_RDWR | O_CLOEXEC);
    int fd = -1;
    for (int attempt = 0; attempt < 20 && control >= 0 && backing >= 0 && fd < 0; ++attempt) {
        fd = Configure(control, backing, &node_);
        if (fd < 0 && errno != EBUSY)
            break;
    }
    const int saved = errno;
    if (control >= 0)
        close(control);
    if (backing >= 0)
        close(backing); // the loop device holds its own reference
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0) {
        *error = "no loop device over " + file + ": " + std::strerror(saved);
        if (fd >= 0)
            close(fd);
        node_.clear();
        return false;
    }
    fd_ = fd;
    major_ = major(status.st_rdev);
    minor_ = minor(status.st_rdev);
    return true;
}

void LoopDevice::Release()
{
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}
