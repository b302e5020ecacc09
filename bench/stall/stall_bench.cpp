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

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QVector>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int kActAfterMs = 1500;
constexpr int kGiveUpMs = 180000; // a whole update with its countdown and pauses fits well

long long MonotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

struct Run {
    double stallMs = -1;
    double stallAtMs = -1; // when the longest stall began, from start-up
    double exitMs = -1;
};

std::vector<std::string> Environment(const QString (*set)[2], size_t count)
{
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        env.emplace_back(*e);
    for (size_t i = 0; i < count; ++i) {
        const std::string prefix = set[i][0].toStdString() + "=";
        env.erase(std::remove_if(env.begin(), env.end(),
                                 [&](const std::string& e) { return e.rfind(prefix, 0) == 0; }),
                  env.end());
        env.push_back(prefix + set[i][1].toStdString());
    }
    return env;
}

bool MakeUpdateFolder(const QString& folder)
{
    QDir().mkpath(folder);
    for (const char* name : {"ZENTA_OS.ROM", "ZENTA_KESTOL.DAT", "ZENTA_APP.DAT"}) {
        QFile file(folder + "/" + name);
        if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray(4096, 'z')) != 4096)
            return false;
    }
    return true;
}

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
    QDir().mkpath(dir.filePath("runtime"));
    QFile::setPermissions(dir.filePath("runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString pluginPath = plugins + (qEnvironmentVariableIsEmpty("QT_PLUGIN_PATH")
                                              ? QString()
                                              : ":" + qEnvironmentVariable("QT_PLUGIN_PATH"));
    const QString set[][2] = {{"QT_QPA_PLATFORM", "offscreen"},
                              {"QT_PLUGIN_PATH", pluginPath},
                              {"QT_QPA_GENERIC_PLUGINS", "quillonstall"},
                              {"QUILLON_STALL_FILE", measures},
                              {"QUILLON_STALL_ACTION", action},
                              {"HOME", dir.path()},
                              {"XDG_CONFIG_HOME", dir.filePath("config")},
                              {"XDG_RUNTIME_DIR", dir.filePath("runtime")}};
    std::vector<std::string> env = Environment(set, sizeof set / sizeof set[0]);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);
    const std::string program = updater.toStdString(), folderArg = folder.toStdString();
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(folderArg.c_str()),
                    const_cast<char*>("1"), nullptr};

    const pid_t pid = fork();
    if (pid == 0) {
        // A network namespace of its own, where it can have one (as root): the single-instance
        // guard's name lives there, so that an updater running elsewhere on the machine does
        // not make this one end at once as a second copy.
        unshare(CLONE_NEWNET);
        const int quiet = open("/dev/null", O_WRONLY); // Qt's notes on the offscreen platform
        dup2(quiet, STDOUT_FILENO);
        dup2(quiet, STDERR_FILENO);
        execve(argv[0], argv, envp.data());
        _exit(127);
    }
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

void PrintRow(const QString& name, QVector<double> values, const char* unit)
{
    std::sort(values.begin(), values.end());
    std::printf("| %-58s | %9.2f | %9.2f | %9.2f | %-5s |\n", qPrintable(name),
                values[values.size() / 2], values.front(), values.back(), unit);
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
