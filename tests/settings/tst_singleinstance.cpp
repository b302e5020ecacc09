#include "settings/single_instance.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "own_guard_namespace.h"
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <memory>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Who starts a copy and in what environment: variables set to folders of their own, and
// whether it runs as another user (nobody).
struct Starter {
    QStringList ownFolders; // e.g. TMPDIR, HOME, XDG_RUNTIME_DIR
    bool otherUser = false;
};

// Starts `program` the way `starter` says.
void startAs(QProcess& process, const QString& program, const QStringList& arguments,
             const Starter& starter)
{
    static QTemporaryDir folders; // removed when the test ends, after every helper
    QFile::setPermissions(folders.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadOther | QFile::ExeOther);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& name : starter.ownFolders) {
        static int made = 0;
        const QString folder = folders.filePath(name + QString::number(++made));
        QDir().mkpath(folder);
        // Writable by the other user too.
        QFile::setPermissions(folder, QFileDevice::Permissions(0x7777));
        env.insert(name, folder);
    }
    process.setProcessEnvironment(env);
    if (starter.otherUser)
        process.start("setpriv",
                      QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", program} +
                          arguments);
    else
        process.start(program, arguments);
}

// A helper process holding the guard of `key`; "held" once it has it, "busy" when it cannot.
QString startHolder(QProcess& holder, const QString& key, const Starter& starter = {})
{
    startAs(holder, HOLDER_PATH, {key}, starter);
    if (!holder.waitForStarted(5000) || !holder.waitForReadyRead(5000))
        return QString();
    return QString::fromLatin1(holder.readLine()).trimmed();
}

void addStarterRows()
{
    QTest::addColumn<QStringList>("ownFolders");
    QTest::addColumn<bool>("otherUser");
    QTest::newRow("same environment") << QStringList() << false;
    QTest::newRow("other TMPDIR") << QStringList{"TMPDIR"} << false;
    QTest::newRow("other HOME") << QStringList{"HOME"} << false;
    QTest::newRow("other XDG_RUNTIME_DIR") << QStringList{"XDG_RUNTIME_DIR"} << false;
    QTest::newRow("another user") << QStringList() << true;
    QTest::newRow("another user, other TMPDIR") << QStringList{"TMPDIR"} << true;
}

// Another user's copy needs root to start it and setpriv to do so.
bool canStartAsOtherUser()
{
    return geteuid() == 0 && !QStandardPaths::findExecutable("setpriv").isEmpty();
}

// True while some socket is bound to the abstract `name`, seen from outside so as not to take
// it from under a copy that is starting: it is listed with the name as its path.
bool isBound(const QByteArray& name)
{
    QFile sockets("/proc/net/unix");
    if (!sockets.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : sockets.readAll().split('\n')) {
        if (line.endsWith(" @" + name))
            return true;
    }
    return false;
}

// True while a copy of ours may hold the guard of `key`: one of our names is bound.
bool isHeld(const QString& key)
{
    for (int index = 0; index < kGuardNames; ++index) {
        if (isBound(guardName(key, geteuid(), index)))
            return true;
    }
    return false;
}

QString uniqueKey(const char* name)
{
    return QString("quillon-test-%1-%2").arg(name).arg(QCoreApplication::applicationPid());
}

// How a squatter holds a name: bound only, listening, or listening with its backlog full (a
// connect to it is refused, then does not complete).
// Flooding fills the backlog of a listening socket that holds the name, whoever it is.
enum SquatMode { Bound, Listening, BacklogFull, Flooding };

// Another local user (nobody) holding abstract socket names, as any user can, to keep updaters
// from starting. It holds them in a child process until it is destroyed.
class Squatter {
public:
    Squatter(const QStringList& names, int mode)
    {
        QList<QByteArray> raw;
        for (const QString& name : names)
            raw.append(name.toLatin1());
        int ready[2];
        if (pipe2(ready, O_CLOEXEC) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            const char answer = hold(raw, mode) ? 'y' : 'n';
            if (write(ready[1], &answer, 1) == 1) {
                for (;;)
                    pause(); // until it is killed
            }
            _exit(0);
        }
        close(ready[1]);
        char answer = 'n';
        holding_ = pid_ > 0 && read(ready[0], &answer, 1) == 1 && answer == 'y';
        close(ready[0]);
    }
    ~Squatter()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Squatter(const Squatter&) = delete;
    Squatter& operator=(const Squatter&) = delete;

    bool holding() const { return holding_; }

private:
    // In the child: becomes nobody, then binds every name; the sockets stay open until it ends.
    static bool hold(const QList<QByteArray>& names, int mode)
    {
        const uid_t nobody = 65534;
        if (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 ||
            setresuid(nobody, nobody, nobody) != 0)
            return false;
        for (const QByteArray& name : names) {
            if (mode == Flooding && !flood(name))
                return false;
            if (mode == Flooding)
                continue;
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            const size_t length = std::min(size_t(name.size()), sizeof(address.sun_path) - 1);
            std::memcpy(address.sun_path + 1, name.constData(), length);
            const auto size = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + length);
            const auto* at = reinterpret_cast<const sockaddr*>(&address);
            const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
            if (socket < 0 || bind(socket, at, size) != 0)
                return false;
            if (mode != Bound && listen(socket, 0) != 0)
                return false;
            // A backlog of 0 holds one connection that nobody accepts.
            if (mode == BacklogFull && connect(::socket(AF_UNIX, SOCK_STREAM, 0), at, size) != 0)
                return false;
        }
        return true;
    }

    // Connects to the name until the kernel refuses for a full backlog; a connection waiting
    // there stays when its own socket is closed.
    static bool flood(const QByteArray& name)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const size_t length = std::min(size_t(name.size()), sizeof(address.sun_path) - 1);
        std::memcpy(address.sun_path + 1, name.constData(), length);
        const auto size = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + length);
        for (int made = 0; made < 1000000; ++made) {
            const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
            if (socket < 0)
                return false;
            const int result = connect(socket, reinterpret_cast<const sockaddr*>(&address), size);
            const int error = errno;
            close(socket);
            if (result != 0)
                return error == EAGAIN;
        }
        return false;
    }

    pid_t pid_ = -1;
    bool holding_ = false;
};

// The name of the guard of `key` as it was once fixed for everybody.
QString fixedName(const QString& key)
{
    return "example.kz.quillon-fwupdate." + key;
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
private slots:
    void shouldRefuseWhileAnotherCopyHoldsIt();
    void shouldRefuseSecondCopyStartedAnyHow_data() { addStarterRows(); }
    void shouldRefuseSecondCopyStartedAnyHow();
    void shouldReleaseGuardOfKilledCopyToAnyone_data() { addStarterRows(); }
    void shouldReleaseGuardOfKilledCopyToAnyone();
    void shouldReleaseGuardOfKilledCopy();
    void shouldTakeGuardPastAnotherUsersNames_data();
    void shouldTakeGuardPastAnotherUsersNames();
    void shouldRefuseSecondCopyWhileAnotherUserFillsOurBacklog();
    void shouldLetSecondUpdaterExitAtOnceWithZero_data();
    void shouldLetSecondUpdaterExitAtOnceWithZero();
};

void TestSingleInstance::shouldRefuseWhileAnotherCopyHoldsIt()
{
    const QString key = uniqueKey("live");
    QProcess holder;
    QCOMPARE(startHolder(holder, key), QString("held"));
    {
        SingleInstance second(key);
        QVERIFY(!second.take());
    }
    // A refused attempt must not have taken it from its holder.
    SingleInstance third(key);
    QVERIFY(!third.take());

    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(5000));
    QCOMPARE(holder.exitCode(), 0);
    SingleInstance afterwards(key);
    QVERIFY(afterwards.take());
}

void TestSingleInstance::shouldRefuseSecondCopyStartedAnyHow()
{
    QFETCH(QStringList, ownFolders);
    QFETCH(bool, otherUser);
    if (otherUser && !canStartAsOtherUser())
        QSKIP("starting a copy as another user needs root and setpriv");
    const QString key = uniqueKey("anyhow");
    QProcess first;
    QCOMPARE(startHolder(first, key), QString("held"));
    // Each user has a guard of its own: another user's copy is not refused, or any user could
    // keep everyone else from starting.
    QProcess second;
    QCOMPARE(startHolder(second, key, {ownFolders, otherUser}),
             QString(otherUser ? "held" : "busy"));
    second.closeWriteChannel();
    QVERIFY(second.waitForFinished(5000));
    first.closeWriteChannel();
    QVERIFY(first.waitForFinished(5000));
}

void TestSingleInstance::shouldReleaseGuardOfKilledCopyToAnyone()
{
    QFETCH(QStringList, ownFolders);
    QFETCH(bool, otherUser);
    if (otherUser && !canStartAsOtherUser())
        QSKIP("starting a copy as another user needs root and setpriv");
    const QString key = uniqueKey("killed-anyone");
    QProcess first;
    QCOMPARE(startHolder(first, key), QString("held"));
    first.kill(); // SIGKILL: nothing of the copy's own gives the guard up
    QVERIFY(first.waitForFinished(5000));
    QProcess next;
    QCOMPARE(startHolder(next, key, {ownFolders, otherUser}), QString("held"));
    next.closeWriteChannel();
    QVERIFY(next.waitForFinished(5000));
}

void TestSingleInstance::shouldReleaseGuardOfKilledCopy()
{
    const QString key = uniqueKey("killed");
    QProcess holder;
    QCOMPARE(startHolder(holder, key), QString("held"));
    holder.kill(); // SIGKILL: no destructor gives the guard up
    QVERIFY(holder.waitForFinished(5000));

    SingleInstance next(key);
    QVERIFY(next.take());
    // And it is held again: one more start is refused.
    SingleInstance another(key);
    QVERIFY(!another.take());
}

void TestSingleInstance::shouldTakeGuardPastAnotherUsersNames_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("guarded"); // false: every name is taken, the copy runs without
    const QString key = uniqueKey("squatted");
    const auto ours = [&key](int index) {
        return QString::fromLatin1(guardName(key, geteuid(), index));
    };
    QStringList every;
    for (int index = 0; index < kGuardNames; ++index)
        every << ours(index);
    QTest::newRow("the fixed name, bound")
        << key << QStringList{fixedName(key)} << int(Bound) << true;
    QTest::newRow("the fixed name, listening")
        << key << QStringList{fixedName(key)} << int(Listening) << true;
    QTest::newRow("our first name, bound") << key << QStringList{ours(0)} << int(Bound) << true;
    QTest::newRow("our first two names, listening")
        << key << QStringList{ours(0), ours(1)} << int(Listening) << true;
    QTest::newRow("our first name, its backlog full")
        << key << QStringList{ours(0)} << int(BacklogFull) << true;
    QTest::newRow("all but our last name")
        << key << QStringList(every.mid(0, kGuardNames - 1)) << int(Listening) << true;
    QTest::newRow("every name of ours") << key << every << int(Listening) << false;
}

// Any local user can bind any abstract name: one who holds the guard's names must neither keep
// our copy from starting nor let a second copy of ours start beside it.
void TestSingleInstance::shouldTakeGuardPastAnotherUsersNames()
{
    QFETCH(QString, key);
    QFETCH(QStringList, names);
    QFETCH(int, mode);
    QFETCH(bool, guarded);
    if (geteuid() != 0)
        QSKIP("holding names as another user needs root");
    Squatter squatter(names, mode);
    QVERIFY(squatter.holding());
    SingleInstance first(key);
    QVERIFY(first.take());
    QProcess second;
    QCOMPARE(startHolder(second, key), QString(guarded ? "busy" : "held"));
    second.closeWriteChannel();
    QVERIFY(second.waitForFinished(5000));
}

// Anyone may connect to the name we hold and leave the connection waiting, until the kernel
// refuses more: a second copy of ours must still see that the name is ours.
void TestSingleInstance::shouldRefuseSecondCopyWhileAnotherUserFillsOurBacklog()
{
    if (geteuid() != 0)
        QSKIP("connecting as another user needs root");
    const QString key = uniqueKey("flooded");
    SingleInstance first(key);
    QVERIFY(first.take());
    Squatter flooder({QString::fromLatin1(guardName(key, geteuid(), 0))}, Flooding);
    QVERIFY(flooder.holding());
    QProcess second;
    QCOMPARE(startHolder(second, key), QString("busy"));
    QVERIFY(second.waitForFinished(5000));
}

void TestSingleInstance::shouldLetSecondUpdaterExitAtOnceWithZero_data()
{
    QTest::addColumn<QStringList>("ownFolders");
    QTest::addColumn<QStringList>("squatted"); // names another user holds before the first start
    QTest::addColumn<int>("holds");            // the index of the name the first copy takes
    const QStringList none;
    QTest::newRow("same environment") << none << none << 0;
    QTest::newRow("other TMPDIR") << QStringList{"TMPDIR"} << none << 0;
    QTest::newRow("other HOME") << QStringList{"HOME"} << none << 0;
    QTest::newRow("other XDG_RUNTIME_DIR") << QStringList{"XDG_RUNTIME_DIR"} << none << 0;
    const auto ours = [](int index) {
        return QString::fromLatin1(guardName(kSingleInstanceKey, geteuid(), index));
    };
    QTest::newRow("names held by another user")
        << QStringList{"TMPDIR"} << QStringList{fixedName(kSingleInstanceKey), ours(0), ours(1)}
        << 2;
}

void TestSingleInstance::shouldLetSecondUpdaterExitAtOnceWithZero()
{
    QFETCH(QStringList, ownFolders);
    QFETCH(QStringList, squatted);
    QFETCH(int, holds);
    if (!squatted.isEmpty() && geteuid() != 0)
        QSKIP("holding names as another user needs root");
    if (isHeld(kSingleInstanceKey))
        QSKIP("an updater runs on this machine");
    std::unique_ptr<Squatter> squatter;
    if (!squatted.isEmpty()) {
        squatter = std::make_unique<Squatter>(squatted, Listening);
        QVERIFY(squatter->holding());
    }
    QTemporaryDir folder;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QProcess first;
    first.start(UPDATER_PATH, {folder.path(), "1"});
    QVERIFY(first.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(isBound(guardName(kSingleInstanceKey, geteuid(), holds)), 10000);

    QProcess second;
    startAs(second, UPDATER_PATH, {folder.path(), "1"}, {ownFolders, false});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);

    // The first copy killed while it holds the guard keeps no later start from running.
    first.kill();
    QVERIFY(first.waitForFinished(5000));
    QProcess next;
    QCOMPARE(startHolder(next, kSingleInstanceKey), QString("held"));
    next.closeWriteChannel();
    QVERIFY(next.waitForFinished(5000));
}

int main(int argc, char** argv)
{
    EnterOwnGuardNamespace();
    QCoreApplication app(argc, argv);
    TestSingleInstance test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_singleinstance.moc"
