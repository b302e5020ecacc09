// Prints the CPU the updater spends while it polls for a calculator that is not there:
// milliseconds per poll and percent of one core, over several windows of some seconds each.
// Runs inside `zenta-emu --calculators 0 --other-disks 20 --run`, so that the updater's udev
// enumeration sees a test bed of about twenty block devices.
//
//   idle_bench UPDATER [WINDOWS [SECONDS]]

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <QVector>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr double kPollsPerSecond = 2; // the worker pauses 500 ms after each look
constexpr int kSettleMs = 3000;       // start-up is not idling

// Nanoseconds on a CPU of every live thread of the process, from the scheduler's own account.
double ThreadCpuNs(qint64 pid)
{
    double total = 0;
    const QString tasks = QString("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks + "/" + task + "/schedstat");
        if (file.open(QIODevice::ReadOnly))
            total += QString(file.readAll()).split(' ').value(0).toDouble();
    }
    return total;
}

// User and system time of the whole process (threads that ended included), in clock ticks.
double ProcessTicks(qint64 pid)
{
    QFile file(QString("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QString text = file.readAll();
    // The fields after the command name, which may hold spaces: state is field 3, utime 14.
    const QStringList fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toDouble() + fields.value(12).toDouble();
}

double Median(QVector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2 || qEnvironmentVariableIsEmpty("ZENTA_EMU_FOLDER")) {
        std::fprintf(stderr, "usage: zenta-emu --calculators 0 --other-disks 20 --run "
                             "idle_bench UPDATER [WINDOWS [SECONDS]]\n");
        return 2;
    }
    const int windows = std::max(5, args.value(2, "5").toInt());
    const int seconds = std::max(1, args.value(3, "4").toInt());

    QProcess updater;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The emulator's window probe looks at the window 20 times a second: not the updater's cost.
    environment.remove("QT_QPA_GENERIC_PLUGINS");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    updater.setProcessEnvironment(environment);
    updater.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    updater.start(args[1], {qEnvironmentVariable("ZENTA_EMU_FOLDER"), "1"});
    if (!updater.waitForStarted(5000)) {
        std::fprintf(stderr, "idle_bench: cannot start %s\n", qPrintable(args[1]));
        return 1;
    }
    const qint64 pid = updater.processId();
    QThread::msleep(kSettleMs);

    QVector<double> percent;
    const double ticksBefore = ProcessTicks(pid);
    double before = ThreadCpuNs(pid);
    for (int i = 0; i < windows && updater.state() == QProcess::Running; ++i) {
        QThread::sleep(static_cast<unsigned long>(seconds));
        const double now = ThreadCpuNs(pid);
        percent << (now - before) / (seconds * 1e9) * 100;
        before = now;
    }
    const double ticks = ProcessTicks(pid) - ticksBefore;
    const bool alive = updater.state() == QProcess::Running;
    updater.kill();
    updater.waitForFinished(5000);
    if (!alive || percent.size() < windows) {
        std::fprintf(stderr, "idle_bench: the updater ended while waiting\n");
        return 1;
    }
    std::sort(percent.begin(), percent.end());
    const double hz = static_cast<double>(sysconf(_SC_CLK_TCK));
    std::printf("Updater waiting for a calculator, %d windows of %d s (cross-check from "
                "/proc/<pid>/stat: %.3f%% of a core over all of them)\n\n",
                windows, seconds, ticks / hz / (windows * seconds) * 100);
    std::printf("| %-58s | %9.3f | %9.3f | %9.3f | %-5s |\n",
                "idle updater, CPU per poll (2 polls a second)",
                Median(percent) * 10 / kPollsPerSecond, percent.front() * 10 / kPollsPerSecond,
                percent.back() * 10 / kPollsPerSecond, "ms");
    std::printf("| %-58s | %9.3f | %9.3f | %9.3f | %-5s |\n", "idle updater, share of one core",
                Median(percent), percent.front(), percent.back(), "%");
    return 0;
}
