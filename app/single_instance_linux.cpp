// The single-instance guard on Linux: a name in the abstract Unix socket namespace, one for
// the whole machine, which the kernel frees when its holder ends.
#include "app/single_instance.h"

#include <QByteArray>
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// A Unix socket bound to a name in the abstract namespace: one name space for the whole
// machine, tied to no file, folder or user, so that no environment or permission can split
// it; the kernel frees the name when the socket's last descriptor closes, which a process that
// dies does however it dies.
class SingleInstance::Held {
public:
    explicit Held(int socket) : socket_(socket) {}
    ~Held() { ::close(socket_); }

private:
    int socket_;
};

SingleInstance::SingleInstance(const QString& key) : key_(key) {}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::take()
{
    if (held_)
        return true;
    // Close-on-exec: a program started from here must not go on holding it.
    const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = "example.kz.quillon-fwupdate." + key_.toUtf8();
    // The leading 0 of sun_path puts the name into the abstract namespace.
    const size_t length = std::min(size_t(name.size()), sizeof(address.sun_path) - 1);
    std::memcpy(address.sun_path + 1, name.constData(), length);
    const auto size = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + length);
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
        ::close(socket);
        return false;
    }
    held_ = std::make_unique<Held>(socket);
    return true;
}
