// Prints, for the real updater on the offscreen platform, the longest stall of its GUI thread
// from start-up to exit (goal: under 50 ms) and the time from the end of its event loop to the
// end of its process (goal: under 200 ms), on three paths:
//
//   noupdate  an empty update folder ("No updates are available"), the window closed after 1.5 s
//   abort     a complete update folder and no calculator, Cancel pressed after 1.5 s
//   close     the same, but the window closed after 1.5 s: no finish command is sent
//   update    a whole update onto an emulated calculator, to the exit 3 s after "Done"; only
//             inside `zenta-emu --run`, which names the update folder in ZENTA_EMU_FOLDER
//
// The moments come from the quillonstall plugin, which Qt loads into the updater, and from
// waitpid here; nothing of the updater's own code measures.
//
//   stall_bench UPDATER PLUGIN_DIR RUNS PATH...    (update: RUNS 1, one test bed per run)

#include "bench_common.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QVector>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kActAfterMs = 1500;
constexpr int kGiveUpMs = 180000; // a whole update with its countdown and pauses fits well

struct Run {
    double stallMs = -1;
    double stallAtMs = -1; // when the longest stall began, from start-up
    double exitMs = -1;
};

// One run of the updater on `path` in a home of its own. False when it did not end by itself
// in time or left no measure.
bool RunOnce(const QString& updater, const QString& plugins, const QString& path, Run* out)
{
    QTemporaryDir dir(QDir::tempPath() + "/quillon-stall-XXXXXX");
    const QString measures = dir.filePath("stall");
    QString folder = dir.filePath("update");
    QString action;
    if (path == "noupdate") {
        QDir().mkpath(folder);
        action = QString("close@%1").arg(kActAfterMs);
    } else if (path == "abort" || path == "close") {
        if (!MakeUpdateFolder(folder))
            return false;
        action = QString("%1@%2").arg(path == "abort" ? "cancel" : "close").arg(kActAfterMs);
    } else {
        folder = qEnvironmentVariable("ZENTA_EMU_FOLDER");
    }
    MakeRuntimeDir(dir.path());
    const QString pluginPath = plugins + (qEnvironmentVariableIsEmpty("QT_PLUGIN_PATH")
                                              ? QString()
                                              : ":" + qEnvironmentVariable("QT_PLUGIN_PATH"));
    const EnvironmentSet set = {{"QT_QPA_PLATFORM", "offscreen"},
                                {"QT_PLUGIN_PATH", pluginPath},
                                {"QT_QPA_GENERIC_PLUGINS", "quillonstall"},
                                {"QUILLON_STALL_FILE", measures},
                                {"QUILLON_STALL_ACTION", action},
                                {"HOME", dir.path()},
                                {"XDG_CONFIG_HOME", dir.filePath("config")},
                                {"XDG_RUNTIME_DIR", dir.filePath("runtime")}};
    // Quiet: Qt's notes on the offscreen platform.
    const pid_t pid = StartUpdater(updater, folder, set, true);
    if (pid < 0)
        return false;
    long long ended = -1;
    int status = 0;
    for (int waited = 0; waited < kGiveUpMs * 4 && ended < 0; ++waited) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            ended = MonotonicNs();
        else
            usleep(250);
    }
    if (ended < 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return false;
    }
    QFile file(measures);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> fields = file.readAll().trimmed().split(' ');
    if (fields.size() != 3)
        return false;
    out->stallMs = fields[0].toLongLong() / 1e6;
    out->stallAtMs = fields[1].toLongLong() / 1e6;
    out->exitMs = (ended - fields[2].toLongLong()) / 1e6;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5) {
        std::fprintf(stderr,
                     "usage: stall_bench UPDATER PLUGIN_DIR RUNS noupdate|abort|close|update...\n");
        return 2;
    }
    // An emulated calculator takes one update and leaves update mode: the update path runs once
    // per test bed, and scripts/bench gathers the runs.
    const int runs = std::max(1, args[3].toInt());
    std::printf("Updater GUI stalls and exit on the offscreen platform, %d runs\n\n", runs);
    for (const QString& path : args.mid(4)) {
        if (path == "update" && qEnvironmentVariableIsEmpty("ZENTA_EMU_FOLDER")) {
            std::fprintf(stderr, "stall_bench: the update path runs inside zenta-emu --run\n");
            return 2;
        }
        QVector<double> stall, at, exit;
        for (int i = 0; i < runs; ++i) {
            Run run;
            if (!RunOnce(args[1], args[2], path, &run)) {
                std::fprintf(stderr, "stall_bench: %s: the updater did not end as expected\n",
                             qPrintable(path));
                return 1;
            }
            stall << run.stallMs;
            at << run.stallAtMs;
            exit << run.exitMs;
        }
        PrintRow(path + ": longest GUI stall (goal < 50 ms)", stall, "ms");
        PrintRow(path + ": ... it began this long after start-up", at, "ms");
        PrintRow(path + ": event loop end to process end (goal < 200 ms)", exit, "ms");
    }
    return 0;
}
