// Prints how long the updater takes from its process start to its window shown, and its peak
// resident memory by then (plus half a second), on Qt's offscreen platform. The moment of
// "shown" comes from the quillonshown plugin, which Qt loads into the updater.
//
//   startup_bench UPDATER PLUGIN_DIR [RUNS]

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QVector>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <sched.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int kAfterShownMs = 500; // one poll for a calculator, as a user would see it
constexpr int kGiveUpMs = 20000;

long long MonotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

struct Start {
    double ms = -1;
    double peakMiB = -1;
};

// One start in a home of its own. Gives 0, 1 when it failed, or 2 when the updater ended at once
// without a window: its single-instance guard took it for a second copy, another updater
// running on the machine (as root each start has a network namespace of its own, where the
// guard's name lives, so that only happens without root).
int RunOnce(const QString& updater, const QString& plugins, Start* out)
{
    QTemporaryDir dir(QDir::tempPath() + "/quillon-startup-XXXXXX");
    const QString shown = dir.filePath("shown"), folder = dir.filePath("update");
    QDir().mkpath(folder);
    QDir().mkpath(dir.filePath("runtime"));
    QFile::setPermissions(dir.filePath("runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    for (const char* name : {"ZENTA_OS.ROM", "ZENTA_KESTOL.DAT", "ZENTA_APP.DAT"}) {
        QFile file(folder + "/" + name);
        if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray(4096, 'z')) != 4096)
            return 1;
    }
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        env.emplace_back(*e);
    const QString set[][2] = {{"QT_QPA_PLATFORM", "offscreen"},
                              {"QT_PLUGIN_PATH", plugins},
                              {"QT_QPA_GENERIC_PLUGINS", "quillonshown"},
                              {"QUILLON_SHOWN_FILE", shown},
                              {"HOME", dir.path()},
                              {"XDG_CONFIG_HOME", dir.filePath("config")},
                              {"XDG_RUNTIME_DIR", dir.filePath("runtime")},
                              {"TMPDIR", dir.path()}};
    for (const auto& pair : set) {
        const std::string prefix = pair[0].toStdString() + "=";
        env.erase(std::remove_if(env.begin(), env.end(),
                                 [&](const std::string& e) { return e.rfind(prefix, 0) == 0; }),
                  env.end());
        env.push_back(prefix + pair[1].toStdString());
    }
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);
    const std::string program = updater.toStdString(), folderArg = folder.toStdString();
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(folderArg.c_str()),
                    const_cast<char*>("1"), nullptr};

    const long long started = MonotonicNs();
    const pid_t pid = fork();
    if (pid == 0) {
        unshare(CLONE_NEWNET);
        execve(argv[0], argv, envp.data());
        _exit(127);
    }
    if (pid < 0)
        return 1;
    long long at = -1;
    for (int waited = 0; waited < kGiveUpMs && at < 0; waited += 2) {
        usleep(2000);
        QFile file(shown);
        if (file.open(QIODevice::ReadOnly))
            at = file.readAll().trimmed().toLongLong();
        if (at == 0)
            at = -1; // caught between its opening and writing the file
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 2 : 1;
    }
    usleep(kAfterShownMs * 1000);
    kill(pid, SIGKILL);
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    if (at < 0)
        return 1;
    out->ms = (at - started) / 1e6;
    out->peakMiB = usage.ru_maxrss / 1024.0; // kilobytes
    return 0;
}

bool RunFresh(const QString& updater, const QString& plugins, Start* out)
{
    int result = 2;
    for (int attempt = 0; attempt < 5 && result == 2; ++attempt)
        result = RunOnce(updater, plugins, out);
    return result == 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: startup_bench UPDATER PLUGIN_DIR [RUNS]\n");
        return 2;
    }
    const int runs = std::max(5, args.value(3, "10").toInt());
    QVector<double> ms, mib;
    Start warm;
    RunFresh(args[1], args[2], &warm); // the first start reads the files from disk: not counted
    for (int i = 0; i < runs; ++i) {
        Start start;
        if (!RunFresh(args[1], args[2], &start)) {
            std::fprintf(stderr, "startup_bench: the updater did not show its window\n");
            return 1;
        }
        ms << start.ms;
        mib << start.peakMiB;
    }
    std::sort(ms.begin(), ms.end());
    std::sort(mib.begin(), mib.end());
    std::printf("Updater start-up on the offscreen platform, %d runs after one warm-up\n\n", runs);
    std::printf("| %-58s | %9.2f | %9.2f | %9.2f | %-5s |\n",
                "start-up: process start to window shown", ms[runs / 2], ms.front(), ms.back(),
                "ms");
    std::printf("| %-58s | %9.2f | %9.2f | %9.2f | %-5s |\n", "start-up: peak resident memory",
                mib[runs / 2], mib.front(), mib.back(), "MiB");
    return 0;
}
