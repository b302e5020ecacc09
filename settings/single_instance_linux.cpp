// The single-instance guard on Linux: a name of the user's own in the abstract Unix socket
// namespace, which the kernel frees when its holder ends.
#include "settings/single_instance.h"

#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

// A Unix socket bound to a name in the abstract namespace: tied to no file, folder or
// environment, so that nothing in a copy's environment can split it; the kernel frees the name
// when the socket's last descriptor closes, which a process that dies does however it dies.
// It also listens, so that a copy that finds the name taken can ask the kernel who holds it.
class SingleInstance::Held {
public:
    explicit Held(int socket) : socket_(socket) {}
    ~Held() { ::close(socket_); }

private:
    int socket_;
};

QByteArray guardName(const QString& key, unsigned uid, int index)
{
    QByteArray name = "example.kz.quillon-fwupdate." + key.toUtf8() + "." + QByteArray::number(uid);
    if (index > 0)
        name += "." + QByteArray::number(index);
    return name;
}

namespace {

struct AbstractAddress {
    sockaddr_un address{};
    socklen_t size = 0;
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&address); }
};

AbstractAddress abstractAddress(const QByteArray& name)
{
    AbstractAddress result;
    result.address.sun_family = AF_UNIX;
    // The leading 0 of sun_path puts the name into the abstract namespace.
    const size_t length = std::min(size_t(name.size()), sizeof(result.address.sun_path) - 1);
    std::memcpy(result.address.sun_path + 1, name.constData(), length);
    result.size = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + length);
    return result;
}

// Who holds a name that could not be bound.
enum class Holder { Ours, Other, Unknown, Gone };

// The holder as the kernel's socket diagnostics know it: the owner of the stream socket bound
// to the name. It answers where a connect cannot: a socket that is bound but does not listen
// (a squatter, or our own copy between its bind and its listen), or whose backlog is full.
// Sockets of connections waiting in a backlog carry the name too, but belong to no user of
// their own: only the bound one counts, listening or not yet.
Holder holderByDiagnostics(const AbstractAddress& address)
{
    const int netlink = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (netlink < 0)
        return Holder::Unknown;
    // The kernel answers a dump at once; the limit only keeps a start from hanging on a
    // kernel that never does.
    const timeval limit{0, 500000};
    setsockopt(netlink, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    struct {
        nlmsghdr header;
        unix_diag_req request;
    } ask{};
    ask.header.nlmsg_len = sizeof ask;
    ask.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    ask.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    ask.request.sdiag_family = AF_UNIX;
    ask.request.udiag_states = ~0u;
    ask.request.udiag_show = UDIAG_SHOW_NAME | UDIAG_SHOW_UID;
    if (::send(netlink, &ask, sizeof ask, 0) != ssize_t(sizeof ask)) {
        ::close(netlink);
        return Holder::Unknown;
    }
    const char* wanted = address.address.sun_path;
    const size_t wantedLength = address.size - offsetof(sockaddr_un, sun_path);
    const uid_t own = geteuid();
    Holder holder = Holder::Gone;
    bool done = false;
    alignas(nlmsghdr) char buffer[16384];
    while (!done) {
        const ssize_t got = ::recv(netlink, buffer, sizeof buffer, 0);
        if (got <= 0) {
            holder = Holder::Unknown;
            break;
        }
        int left = int(got);
        for (auto* message = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(message, left);
             message = NLMSG_NEXT(message, left)) {
            if (message->nlmsg_type == NLMSG_DONE) {
                done = true;
                break;
            }
            if (message->nlmsg_type == NLMSG_ERROR) {
                holder = Holder::Unknown;
                done = true;
                break;
            }
            const auto* socket = static_cast<const unix_diag_msg*>(NLMSG_DATA(message));
            if (socket->udiag_type != SOCK_STREAM)
                continue;
            bool named = false;
            bool owned = false;
            uid_t uid = 0;
            int attributes = int(message->nlmsg_len - NLMSG_LENGTH(sizeof *socket));
            for (auto* attribute =
                     reinterpret_cast<rtattr*>(const_cast<unix_diag_msg*>(socket) + 1);
                 RTA_OK(attribute, attributes); attribute = RTA_NEXT(attribute, attributes)) {
                if (attribute->rta_type == UNIX_DIAG_NAME)
                    named = RTA_PAYLOAD(attribute) == wantedLength &&
                            std::memcmp(RTA_DATA(attribute), wanted, wantedLength) == 0;
                else if (attribute->rta_type == UNIX_DIAG_UID &&
                         RTA_PAYLOAD(attribute) >= sizeof(uid_t)) {
                    std::memcpy(&uid, RTA_DATA(attribute), sizeof uid);
                    owned = true;
                }
            }
            if (!named)
                continue;
            // Bound and listening, or bound only: the holder itself.
            if (socket->udiag_state == TCP_LISTEN || socket->udiag_state == TCP_CLOSE) {
                if (!owned)
                    holder = Holder::Unknown;
                else if (uid == own)
                    holder = Holder::Ours;
                else if (holder != Holder::Ours)
                    holder = Holder::Other;
            } else if (holder == Holder::Gone) {
                // Only connected sockets carry it: its holder bound it, then connected out.
                holder = Holder::Other;
            }
        }
    }
    ::close(netlink);
    return holder;
}

// Who holds the name: a connect that completes into the holder's listen backlog tells its
// user (SO_PEERCRED) without the holder doing anything. It never waits: a full backlog or a
// holder that does not listen is asked of the socket diagnostics instead.
Holder holderOf(const AbstractAddress& address)
{
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return Holder::Unknown;
    Holder holder = Holder::Unknown;
    if (::connect(probe, address.get(), address.size) == 0) {
        ucred peer{};
        socklen_t size = sizeof peer;
        if (getsockopt(probe, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0)
            holder = peer.uid == geteuid() ? Holder::Ours : Holder::Other;
    }
    ::close(probe);
    return holder == Holder::Unknown ? holderByDiagnostics(address) : holder;
}

} // namespace

SingleInstance::SingleInstance(const QString& key) : key_(key) {}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::take()
{
    if (held_)
        return true;
    // The names are the user's own, so that another user's copy never shares them; since any
    // user can bind any abstract name, one that another user holds is passed over for the
    // next, in the same order for every copy, so that a second copy of ours still finds the
    // first one's name. Root is no exception: trusting other users' holders would let any of
    // them keep root's updater from starting.
    const uid_t own = geteuid();
    for (int index = 0; index < kGuardNames; ++index) {
        const AbstractAddress address = abstractAddress(guardName(key_, own, index));
        // A name given up between a failed bind and the look at its holder is tried again.
        for (int attempt = 0; attempt < 3; ++attempt) {
            // Close-on-exec: a program started from here must not go on holding it.
            const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (socket < 0)
                return false;
            if (::bind(socket, address.get(), address.size) == 0) {
                // A copy that finds the name taken connects to learn who holds it; the kernel
                // completes that connect into the backlog, and nobody ever accepts.
                ::listen(socket, SOMAXCONN);
                held_ = std::make_unique<Held>(socket);
                return true;
            }
            const int error = errno;
            ::close(socket);
            if (error != EADDRINUSE)
                return false;
            const Holder holder = holderOf(address);
            if (holder == Holder::Ours)
                return false;
            if (holder != Holder::Gone)
                break; // another user's, or nobody can tell: not ours to give way to
        }
    }
    // Every name is held by other users. Running without the guard is better than being kept
    // from starting: each disk is still opened exclusively for each write.
    qWarning("other users hold every name of the single-instance guard; running without it");
    return true;
}
