// cli_bench: what quillon-fwupdate-cli costs on its own.
//   cli_bench startup CLI RUNS   process start to its first line (no calculator), peak memory
//   cli_bench idle CLI RUNS      CPU while it waits for a calculator (in zenta-emu --run)
//   cli_bench many CLI 1         a whole update onto the test bed's calculators (zenta-emu --run;
//                                a calculator takes one update, so one run per test bed)
#include "bench_common.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Child {
    pid_t pid = -1;
    int output = -1; // its standard output
};

Child start(const QString& cli, const QStringList& arguments, const QString& stateHome)
{
    int pipes[2];
    if (pipe(pipes) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipes[1], 1);
        close(pipes[0]);
        close(pipes[1]);
        setenv("XDG_STATE_HOME", stateHome.toLocal8Bit().constData(), 1);
        QVector<QByteArray> args{cli.toLocal8Bit()};
        for (const QString& a : arguments)
            args.append(a.toLocal8Bit());
        QVector<char*> argv;
        for (QByteArray& a : args)
            argv.append(a.data());
        argv.append(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipes[1]);
    return {pid, pipes[0]};
}

// Reads until the first line has come (the output is JSON lines).
void firstLine(int fd)
{
    char c = 0;
    while (read(fd, &c, 1) == 1 && c != '\n') {
    }
}

void drain(int fd)
{
    char buffer[4096];
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
    close(fd);
}

double cpuSeconds(const rusage& usage)
{
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// utime + stime of a running process, in seconds.
double cpuOf(pid_t pid)
{
    FILE* file = std::fopen(QString("/proc/%1/stat").arg(pid).toLocal8Bit().constData(), "r");
    if (file == nullptr)
        return -1;
    char text[1024] = {};
    const size_t n = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    const QStringList fields = QString::fromLatin1(text, int(n)).section(')', 1).split(' ');
    // After the name: state is field 3, utime 14, stime 15.
    return (fields.value(12).toDouble() + fields.value(13).toDouble()) / sysconf(_SC_CLK_TCK);
}

int startup(const QString& cli, int runs, const QString& state)
{
    QTemporaryDir folder;
    MakeUpdateFolder(folder.path());
    QVector<double> ms, rss, version;
    for (int i = 0; i < runs; ++i) {
        long long t0 = MonotonicNs();
        Child child = start(cli, {"update", folder.path(), "--wait", "0", "--json"}, state);
        firstLine(child.output);
        ms.append((MonotonicNs() - t0) / 1e6);
        drain(child.output);
        int status = 0;
        rusage usage{};
        wait4(child.pid, &status, 0, &usage);
        rss.append(usage.ru_maxrss / 1024.0);
        t0 = MonotonicNs();
        child = start(cli, {"--version"}, state);
        drain(child.output);
        waitpid(child.pid, &status, 0);
        version.append((MonotonicNs() - t0) / 1e6);
    }
    PrintHeader();
    PrintRow("CLI start-up: process start to its first line", ms, "ms");
    PrintRow("CLI start-up: --version, start to exit", version, "ms");
    PrintRow("CLI start-up: peak resident memory", rss, "MiB");
    return 0;
}

int idle(const QString& cli, int runs, const QString& state)
{
    QTemporaryDir folder;
    MakeUpdateFolder(folder.path());
    Child child = start(cli, {"update", folder.path(), "--json"}, state);
    firstLine(child.output);
    QVector<double> share;
    for (int i = 0; i < runs; ++i) {
        const double before = cpuOf(child.pid);
        const long long t0 = MonotonicNs();
        sleep(4);
        share.append((cpuOf(child.pid) - before) / ((MonotonicNs() - t0) / 1e9) * 100);
    }
    kill(child.pid, SIGINT);
    drain(child.output);
    int status = 0;
    waitpid(child.pid, &status, 0);
    PrintHeader();
    PrintRow("CLI idle: waiting for a calculator, share of one core", share, "%");
    return WIFEXITED(status) && WEXITSTATUS(status) == 130 ? 0 : 1;
}

int many(const QString& cli, int runs, const QString& state)
{
    const QString folder = qEnvironmentVariable("ZENTA_EMU_FOLDER");
    const int calculators = qEnvironmentVariable("ZENTA_EMU_NODES").split(' ').size();
    QVector<double> wall, cpu;
    int failures = 0;
    for (int i = 0; i < runs; ++i) {
        const long long t0 = MonotonicNs();
        Child child = start(cli, {"update", folder, "--yes", "--wait", "10", "--json"}, state);
        drain(child.output);
        int status = 0;
        rusage usage{};
        wait4(child.pid, &status, 0, &usage);
        wall.append((MonotonicNs() - t0) / 1e9);
        cpu.append(cpuSeconds(usage));
        failures += WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
    }
    PrintHeader();
    PrintRow(QString("CLI update onto %1 calculators, whole").arg(calculators), wall, "s");
    PrintRow(QString("CLI update onto %1 calculators, CLI's CPU").arg(calculators), cpu, "s");
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    QTemporaryDir state; // the history of the runs goes here, not into the user's
    const int runs = args[3].toInt();
    if (args[1] == "startup")
        return startup(args[2], runs, state.path());
    if (args[1] == "idle")
        return idle(args[2], runs, state.path());
    if (args[1] == "many")
        return many(args[2], runs, state.path());
    return 2;
}
