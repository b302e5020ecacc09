// Prints how long the updater takes from its process start to its window shown, and its peak
// resident memory by then (plus half a second), on Qt's offscreen platform. The moment of
// "shown" comes from the quillonshown plugin, which Qt loads into the updater.
//
//   startup_bench UPDATER PLUGIN_DIR [RUNS]

#include "bench_common.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QVector>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kAfterShownMs = 500; // one poll for a calculator, as a user would see it
constexpr int kGiveUpMs = 20000;

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
    MakeRuntimeDir(dir.path());
    if (!MakeUpdateFolder(folder))
        return 1;
    const EnvironmentSet set = {{"QT_QPA_PLATFORM", "offscreen"},
                                {"QT_PLUGIN_PATH", plugins},
                                {"QT_QPA_GENERIC_PLUGINS", "quillonshown"},
                                {"QUILLON_SHOWN_FILE", shown},
                                {"HOME", dir.path()},
                                {"XDG_CONFIG_HOME", dir.filePath("config")},
                                {"XDG_RUNTIME_DIR", dir.filePath("runtime")},
                                {"TMPDIR", dir.path()}};
    long long started = 0;
    const pid_t pid = StartUpdater(updater, folder, set, false, &started);
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
    std::printf("Updater start-up on the offscreen platform, %d runs after one warm-up\n\n", runs);
    PrintRow("start-up: process start to window shown", ms, "ms");
    PrintRow("start-up: peak resident memory", mib, "MiB");
    return 0;
}
