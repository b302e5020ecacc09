// station_bench: how many calculators an hour a class set gets through a hub, inside
// zenta-emu --run with --hub (the emulator plugs the next calculator into each port its
// calculator left, a few seconds later, as a teacher would).
//   station_bench station CLI CLASS PORTS  one `station` run until the whole class is updated
//   station_bench handful CLI CLASS PORTS  a teacher who starts one `update --yes` once the
//                                          hub is full (or the class's last are in), waits for
//                                          it to end, and starts the next
// One run per test bed: a calculator takes one update. The time runs from the start (the first
// handful is plugged in) to the moment the last calculator's update ended.
#include "bench_common.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kListPauseMs = 500; // how often the teacher looks whether the hub is full

QProcess* startCli(const QString& cli, const QStringList& arguments, const QString& stateHome)
{
    auto* process = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_STATE_HOME", stateHome);
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(cli, arguments + QStringList{"--json"});
    return process;
}

// The next JSON line; an empty object once the program has ended and said everything.
QJsonObject nextEvent(QProcess* process)
{
    while (!process->canReadLine()) {
        if (process->state() == QProcess::NotRunning) {
            if (process->bytesAvailable() == 0)
                return {};
            break;
        }
        process->waitForReadyRead(200);
    }
    return QJsonDocument::fromJson(process->readLine().trimmed()).object();
}

// Calculators of an update record that got every file and the finish command.
int updatedIn(const QJsonObject& record)
{
    int updated = 0;
    for (const QJsonValue& value : record["calculators"].toArray()) {
        const QJsonObject row = value.toObject();
        bool all = row["finish"] == 0 && !row["passedOver"].toBool();
        for (const QJsonValue& result : row["results"].toObject())
            all = all && result == 0;
        updated += all ? 1 : 0;
    }
    return updated;
}

void report(const QString& what, int calculators, double seconds, int rounds, const char* round)
{
    PrintHeader();
    PrintRow(what + ": calculators per hour", {calculators / seconds * 3600}, "/h");
    PrintRow(what + ": the whole class", {seconds}, "s");
    PrintRow(what + ": " + round, {double(rounds)}, "");
}

QString label(const char* how, int calculators, int ports)
{
    return QString("%1, %2 on %3 ports").arg(how).arg(calculators).arg(ports);
}

int station(const QString& cli, int calculators, int ports, const QString& stateHome)
{
    const long long t0 = MonotonicNs();
    QProcess* process = startCli(
        cli, {"station", qEnvironmentVariable("ZENTA_EMU_FOLDER"), "--wait", "30"}, stateHome);
    int updated = 0;
    int written = 0;
    int waves = 0;
    double seconds = 0;
    for (QJsonObject event = nextEvent(process); !event.isEmpty(); event = nextEvent(process)) {
        if (event["event"] == "finished") {
            updated += updatedIn(event);
            written += event["calculators"].toArray().size();
        }
        if (event["event"] == "wave" && event["phase"] == "ended") {
            ++waves;
            seconds = (MonotonicNs() - t0) / 1e9;
            if (written >= calculators)
                ::kill(static_cast<pid_t>(process->processId()), SIGINT); // the class is done
        }
    }
    process->waitForFinished();
    delete process;
    if (updated != calculators) {
        std::fprintf(stderr, "station_bench: the station updated %d of %d calculators\n", updated,
                     calculators);
        return 1;
    }
    report(label("station", calculators, ports), calculators, seconds, waves, "waves");
    return 0;
}

// Calculators present, as `list` shows them.
int present(const QString& cli, const QString& stateHome)
{
    QProcess* process = startCli(cli, {"list"}, stateHome);
    const QJsonObject found = nextEvent(process);
    process->waitForFinished();
    delete process;
    return found["calculators"].toArray().size();
}

int handful(const QString& cli, int calculators, int ports, const QString& stateHome)
{
    const long long t0 = MonotonicNs();
    int updated = 0;
    int rounds = 0;
    double seconds = 0;
    for (int left = calculators; left > 0;) {
        const int next = std::min(ports, left);
        while (present(cli, stateHome) < next)
            usleep(kListPauseMs * 1000);
        QProcess* process =
            startCli(cli, {"update", qEnvironmentVariable("ZENTA_EMU_FOLDER"), "--yes"}, stateHome);
        QJsonObject last;
        for (QJsonObject event = nextEvent(process); !event.isEmpty(); event = nextEvent(process))
            last = event;
        process->waitForFinished();
        const int code = process->exitCode();
        delete process;
        seconds = (MonotonicNs() - t0) / 1e9;
        ++rounds;
        if (code != 0 || last["event"] != "finished") {
            std::fprintf(stderr, "station_bench: round %d ended with %d\n", rounds, code);
            return 1;
        }
        updated += updatedIn(last);
        left -= last["calculators"].toArray().size();
    }
    if (updated != calculators) {
        std::fprintf(stderr, "station_bench: %d of %d calculators updated\n", updated, calculators);
        return 1;
    }
    report(label("one update per handful", calculators, ports), calculators, seconds, rounds,
           "updates");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5)
        return 2;
    QTemporaryDir state; // the history of the runs goes here, not into the user's
    const int calculators = args[3].toInt();
    const int ports = args[4].toInt();
    if (calculators < 1 || ports < 1)
        return 2;
    if (args[1] == "station")
        return station(args[2], calculators, ports, state.path());
    if (args[1] == "handful")
        return handful(args[2], calculators, ports, state.path());
    return 2;
}
