// Runs quillon-fwupdate-cli inside the emulator's test bed (zenta-emu --run) and checks its exit
// code, its JSON lines against their schema, and what each emulated calculator's disk holds.
//   cli_emu_check CASE CLI      with CASE one-fails, seventeen, interrupt or verify
//   cli_emu_check CASE CLI FOLDER   with CASE station-waves or station-two: the station run of
//                                   zenta-emu's scenario of that name; exits with the CLI's exit
//                                   code when every check holds (the scenario judges it), 1
//                                   otherwise
//   cli_emu_check window-history DIR   the history line the window left in DIR (no test bed)
//   cli_emu_check disks STATE [EXPECTATION...]   what zenta-emu --state said of the disks
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <map>

namespace {

constexpr qint64 kMailboxOffset = 87040;
constexpr qint64 kSectorSize = 512;

int g_failures = 0;

void check(bool condition, const QString& what)
{
    if (!condition) {
        ++g_failures;
        std::fprintf(stderr, "FAIL: %s\n", qPrintable(what));
    }
}

// Keys every event of a kind must have, with the JSON type of each; "event.phase" for the
// events that come in phases.
const std::map<QString, std::map<QString, QJsonValue::Type>>& schema()
{
    using T = QJsonValue::Type;
    static const std::map<QString, std::map<QString, T>> events{
        {"station.started", {{"folder", T::String}}}, // and "wait": a number or null
        {"station.ended",
         {{"exitCode", T::Double},
          {"waves", T::Double},
          {"tally", T::Object},
          {"calculators", T::Array}}},
        {"arrived", {{"calculator", T::String}, {"path", T::String}, {"pluggedAgain", T::Bool}}},
        {"wave.started",
         {{"wave", T::Double},
          {"calculators", T::Array},
          {"waitingForNext", T::Array},
          {"alreadyWritten", T::Array}}},
        {"wave.ended", {{"wave", T::Double}, {"result", T::Double}, {"tally", T::Object}}},
        {"waiting", {}},
        {"found", {{"calculators", T::Array}}},
        {"countdown", {{"seconds", T::Double}}},
        {"fileStarted",
         {{"file", T::String}, {"index", T::Double}, {"size", T::Double}, {"attempt", T::Double}}},
        {"progress",
         {{"file", T::String},
          {"calculator", T::String},
          {"index", T::Double},
          {"percent", T::Double}}},
        {"verifying", {{"file", T::String}}},
        {"fileDone", {{"file", T::String}, {"result", T::Double}, {"calculators", T::Array}}},
        {"retry", {{"file", T::String}, {"retry", T::Double}, {"result", T::Double}}},
        {"failed", {{"result", T::Double}, {"reason", T::String}}},
        {"interrupted", {{"afterFile", T::Bool}, {"message", T::String}}},
        {"finished",
         {{"exitCode", T::Double},
          {"finishSent", T::Bool},
          {"outcome", T::String},
          {"result", T::Double},
          {"files", T::Array},
          {"calculators", T::Array},
          {"time", T::String},
          {"program", T::String},
          {"version", T::String},
          {"folder", T::String}}},
    };
    return events;
}

struct Run {
    int exitCode = -1;
    QVector<QJsonObject> events;
    QJsonObject finished;
    int count(const QString& event) const
    {
        int n = 0;
        for (const QJsonObject& e : events)
            n += e["event"].toString() == event ? 1 : 0;
        return n;
    }
};

void checkSchema(const QJsonObject& event, const QByteArray& line)
{
    const QString name = event["event"].toString();
    const auto kind =
        schema().find(event.contains("phase") ? name + "." + event["phase"].toString() : name);
    check(kind != schema().end(), "unknown event: " + line);
    if (kind == schema().end())
        return;
    for (const auto& key : kind->second)
        check(event[key.first].type() == key.second,
              QString("%1 lacks %2: %3").arg(kind->first, key.first).arg(QString(line)));
}

// Runs the CLI with --json; `interruptAtProgress` sends Ctrl-C at its first progress event.
Run runCli(const QString& cli, const QStringList& arguments, const QString& stateHome,
           bool interruptAtProgress = false)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_STATE_HOME", stateHome);
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(cli, arguments + QStringList{"--json"});
    Run run;
    bool interrupted = false;
    while (process.state() != QProcess::NotRunning || process.canReadLine()) {
        if (!process.canReadLine() && !process.waitForReadyRead(200))
            continue;
        while (process.canReadLine()) {
            const QByteArray line = process.readLine().trimmed();
            const QJsonDocument document = QJsonDocument::fromJson(line);
            check(document.isObject(), "not a JSON object: " + line);
            run.events.append(document.object());
            checkSchema(document.object(), line);
            if (interruptAtProgress && !interrupted && run.events.last()["event"] == "progress") {
                ::kill(static_cast<pid_t>(process.processId()), SIGINT);
                interrupted = true;
            }
        }
    }
    process.waitForFinished();
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    if (!run.events.isEmpty())
        run.finished = run.events.last();
    if (arguments.value(0) == "update") { // list prints its one event only
        check(run.finished["event"] == "finished", "the last event is not finished");
        check(run.finished["exitCode"].toInt() == run.exitCode, "finished names another exit code");
    }
    if (arguments.value(0) == "station") {
        check(run.finished["event"] == "station" && run.finished["phase"] == "ended",
              "the last event does not end the station");
        check(run.finished["exitCode"].toInt() == run.exitCode,
              "the station's end names another exit code");
    }
    return run;
}

QStringList files()
{
    return {"ZENTA_OS.ROM", "ZENTA_KESTOL.DAT", "ZENTA_APP.DAT"};
}

// "serial: ZENTA_OS.ROM=0 ..." rows of the finished event, in its order.
QStringList table(const QJsonObject& finished)
{
    QStringList rows;
    for (const QJsonValue& value : finished["calculators"].toArray()) {
        const QJsonObject row = value.toObject();
        QString text = row["serial"].toString() + ":";
        if (row["passedOver"].toBool())
            text += " passed over";
        const QJsonObject results = row["results"].toObject();
        for (const QString& name : files()) {
            if (results.contains(name) && !row["passedOver"].toBool())
                text += " " + QString::number(results[name].isNull() ? -1 : results[name].toInt());
        }
        rows << text;
    }
    return rows;
}

QString rowOk(const QString& serial)
{
    return serial + ": 0 0 0";
}

// The history line the CLI wrote is the finished event without the event's own keys.
void checkHistory(const QString& stateHome, const Run& run, const QString& program)
{
    QFile history(stateHome + "/quillon/history.jsonl");
    check(history.open(QIODevice::ReadOnly), "no history file");
    const QList<QByteArray> lines = history.readAll().split('\n');
    check(lines.size() == 2 && lines[1].isEmpty(), "not exactly one history line");
    QJsonObject record = QJsonDocument::fromJson(lines.value(0)).object();
    check(record["program"] == program, "history: program " + record["program"].toString());
    QJsonObject finished = run.finished;
    for (const char* key : {"event", "exitCode", "finishSent"})
        finished.remove(key);
    if (program == "quillon-fwupdate-cli")
        check(record == finished, "history line differs from the finished event");
    for (const QJsonValue& file : record["files"].toArray())
        check(file.toObject()["sha256"].toString().size() == 64, "history: no SHA-256");
}

int oneFails(const QString& cli, const QString& stateHome)
{
    const Run run =
        runCli(cli, {"update", qEnvironmentVariable("ZENTA_EMU_FOLDER"), "--yes"}, stateHome);
    check(run.exitCode == 112, QString("exit code %1").arg(run.exitCode));
    check(run.count("retry") == 5, QString("%1 retries").arg(run.count("retry")));
    const QStringList rows = table(run.finished);
    check(rows == (QStringList{rowOk("zt0001"), "zt0002: 0 0 112", rowOk("zt0003")}),
          "table: " + rows.join(" | "));
    check(run.finished["finishSent"].toBool(), "no finish command");
    check(run.finished["outcome"] == "failed", "outcome");
    checkHistory(stateHome, run, "quillon-fwupdate-cli");
    return 0;
}

// Also: a history that cannot be written (its folder is a file) changes nothing of the update.
int seventeen(const QString& cli, const QString& stateHome)
{
    // What an update would pass over is said before one starts.
    const Run listed = runCli(cli, {"list"}, stateHome);
    check(listed.exitCode == 0 && listed.count("found") == 1, "list");
    const QJsonArray present =
        listed.events.isEmpty() ? QJsonArray() : listed.events[0]["calculators"].toArray();
    check(present.size() == 17, QString("list: %1 calculators").arg(present.size()));
    for (int i = 0; i < present.size(); ++i)
        check(present[i].toObject()["passedOver"].toBool() == (i == 16),
              "list: passed over " + present[i].toObject()["serial"].toString());
    QFile blocker(stateHome + "/blocked");
    check(blocker.open(QIODevice::WriteOnly), "cannot make the blocking file");
    blocker.close();
    const Run run = runCli(cli, {"update", qEnvironmentVariable("ZENTA_EMU_FOLDER"), "--yes"},
                           blocker.fileName());
    check(run.exitCode == 5, QString("exit code %1").arg(run.exitCode));
    const QStringList rows = table(run.finished);
    check(rows.size() == 17 && rows.value(16) == "zt0017: passed over",
          "table: " + rows.join(" | "));
    for (int i = 0; i < 16; ++i)
        check(rows.value(i) == rowOk(QString("zt%1").arg(i + 1, 4, 10, QChar('0'))),
              "row " + rows.value(i));
    check(run.finished["outcome"] == "partial", "outcome");
    return 0;
}

int interrupt(const QString& cli, const QString& stateHome)
{
    const Run run =
        runCli(cli, {"update", qEnvironmentVariable("ZENTA_EMU_FOLDER"), "--yes"}, stateHome, true);
    check(run.exitCode == 130, QString("exit code %1").arg(run.exitCode));
    check(run.count("fileStarted") == 1, "a second file was started");
    check(run.count("interrupted") == 1, "the interruption was not announced");
    check(run.count("fileDone") == 1, "the file did not end");
    check(run.finished["finishSent"].toBool(), "no finish command");
    check(run.finished["outcome"] == "interrupted", "outcome");
    return 0;
}

int verify(const QString& cli, const QString& stateHome)
{
    const Run run = runCli(
        cli, {"update", qEnvironmentVariable("ZENTA_EMU_FOLDER"), "--yes", "--verify"}, stateHome);
    check(run.exitCode == 113, QString("exit code %1").arg(run.exitCode));
    check(run.count("verifying") >= 3, "not read back");
    const QStringList rows = table(run.finished);
    check(rows.value(0) == rowOk("zt0001") && rows.value(1).startsWith("zt0002: 0 113"),
          "table: " + rows.join(" | "));
    return 0;
}

// What a station run of one of zenta-emu's station scenarios must show: its waves, in order,
// with the calculators of each; the one calculator every write of one file fails on, and the
// wave's code; the calculators already written and present when each wave starts.
struct StationPlan {
    QVector<QStringList> waves;
    QString broken;                      // its applications image never arrives: 112
    QVector<QStringList> alreadyWritten; // per wave: "serial@wave" present and not due
    int exitCode = 0;
};

QStringList serialsOf(const QJsonArray& calculators, const char* key = "serial")
{
    QStringList serials;
    for (const QJsonValue& value : calculators)
        serials << value.toObject()[key].toString();
    return serials;
}

int waveCode(const StationPlan& plan, int wave)
{
    return plan.waves.value(wave - 1).contains(plan.broken) ? 112 : 0;
}

// A table row as table() writes it. The broken calculator holds the files written before the
// one that fails on it, and is not written those after it (`order`: the files as written).
QString expectedRow(const StationPlan& plan, const QString& serial, const QStringList& order)
{
    if (serial != plan.broken)
        return rowOk(serial);
    QString row = serial + ":";
    for (const QString& name : files()) {
        const int failing = order.indexOf("ZENTA_APP.DAT");
        row += name == "ZENTA_APP.DAT" ? " 112" : order.indexOf(name) < failing ? " 0" : " -1";
    }
    return row;
}

// The files in the order the station's first wave began them.
QStringList fileOrder(const QVector<QJsonObject>& events)
{
    QStringList order;
    for (const QJsonObject& event : events) {
        if (event["event"] == "fileStarted" && !order.contains(event["file"].toString()))
            order << event["file"].toString();
    }
    return order;
}

// The events of one wave, from its start to its end: only its own calculators written, its
// record, its retries.
void checkWave(const StationPlan& plan, int wave, const QVector<QJsonObject>& events,
               const QSet<QString>& arrived, const QStringList& order)
{
    const QString name = QString("wave %1").arg(wave);
    const QStringList own = plan.waves.value(wave - 1);
    const QJsonObject& start = events.first();
    const QStringList members = serialsOf(start["calculators"].toArray());
    check(members == own,
          name + ": calculators " + members.join(",") + ", expected " + own.join(","));
    for (const QString& serial : members)
        check(arrived.contains(serial), name + ": " + serial + " did not arrive before it");
    check(start["waitingForNext"].toArray().isEmpty(), name + ": calculators left for the next");
    QStringList written;
    for (const QJsonValue& value : start["alreadyWritten"].toArray())
        written << value.toObject()["serial"].toString() + "@" +
                       QString::number(value.toObject()["wave"].toInt());
    check(written == plan.alreadyWritten.value(wave - 1),
          name + ": already written " + written.join(","));
    int retries = 0;
    int records = 0;
    QSet<QString> strangers; // calculators written that are not the wave's
    QSet<QString> retried;
    for (const QJsonObject& event : events) {
        const QString kind = event["event"].toString();
        if (kind == "progress" && !own.contains(event["calculator"].toString()))
            strangers << event["calculator"].toString();
        if (kind == "fileDone") {
            for (const QString& serial : serialsOf(event["calculators"].toArray())) {
                if (!own.contains(serial))
                    strangers << serial;
            }
        }
        if (kind == "retry") {
            ++retries;
            retried << event["file"].toString();
        }
        if (kind == "finished") {
            ++records;
            const QStringList rows = table(event);
            QStringList expected;
            for (const QString& serial : own)
                expected << expectedRow(plan, serial, order);
            check(rows == expected, name + ": table " + rows.join(" | "));
            check(event["wave"].toInt() == wave,
                  name + ": its record names wave " + QString::number(event["wave"].toInt()));
            check(event["exitCode"].toInt() == waveCode(plan, wave),
                  name + QString(": record's exit code %1").arg(event["exitCode"].toInt()));
            check(event["finishSent"].toBool(), name + ": no finish command");
        }
    }
    QStringList others = strangers.values();
    others.sort();
    check(strangers.isEmpty(), name + ": wrote " + others.join(",") + " too");
    check(records == 1, name + QString(": %1 records").arg(records));
    const bool broken = own.contains(plan.broken);
    check(retries == (broken ? 5 : 0), name + QString(": %1 retries").arg(retries));
    check(retried == (broken ? QSet<QString>{"ZENTA_APP.DAT"} : QSet<QString>()),
          name + ": retries of " + QStringList(retried.values()).join(","));
    const QJsonObject& end = events.last();
    check(end["event"] == "wave" && end["phase"] == "ended" && end["wave"].toInt() == wave,
          name + ": does not end");
    check(end["result"].toInt() == waveCode(plan, wave),
          name + QString(": result %1").arg(end["result"].toInt()));
}

// The tally after `waves` waves: every calculator of them updated but the broken one.
void checkTally(const StationPlan& plan, int waves, const QJsonObject& tally, const QString& what)
{
    int updated = 0;
    int failed = 0;
    for (int i = 0; i < waves; ++i) {
        for (const QString& serial : plan.waves[i])
            ++(serial == plan.broken ? failed : updated);
    }
    check(tally["updated"].toInt() == updated && tally["failed"].toInt() == failed &&
              tally["updated"].isDouble() && tally["failed"].isDouble() &&
              tally["waiting"].isDouble(),
          what + ": tally " + QJsonDocument(tally).toJson(QJsonDocument::Compact));
}

void checkStationEnd(const StationPlan& plan, const QJsonObject& end, const QStringList& order)
{
    check(end["waves"].toInt() == plan.waves.size(),
          QString("the station ended after %1 waves").arg(end["waves"].toInt()));
    checkTally(plan, plan.waves.size(), end["tally"].toObject(), "the station's end");
    check(end["tally"].toObject()["waiting"].toInt() == 0, "calculators left waiting");
    QStringList rows;
    QStringList expected;
    for (int wave = 1; wave <= plan.waves.size(); ++wave) {
        for (const QString& serial : plan.waves[wave - 1])
            expected << QString("%1@%2 %3")
                            .arg(expectedRow(plan, serial, order))
                            .arg(wave)
                            .arg(serial == plan.broken ? "failed" : "updated");
    }
    for (const QJsonValue& value : end["calculators"].toArray()) {
        const QJsonObject row = value.toObject();
        QString text = row["serial"].toString() + ":";
        for (const QString& name : files()) {
            const QJsonValue result = row["results"].toObject()[name];
            text += " " + QString::number(result.isNull() ? -1 : result.toInt(-2));
        }
        rows << QString("%1@%2 %3")
                    .arg(text)
                    .arg(row["wave"].toInt())
                    .arg(row["updated"].toBool() ? "updated" : "failed");
        check(row["finish"] == 0,
              row["serial"].toString() + ": finish " + QString::number(row["finish"].toInt(-1)));
        check(row["pluggedAgain"] == false, row["serial"].toString() + ": plugged in again");
        check(!row["path"].toString().isEmpty() && row["seconds"].isDouble() &&
                  row["seconds"].toDouble() >= 0,
              row["serial"].toString() + ": no path or time");
    }
    check(rows == expected, "the station's table: " + rows.join(" | "));
}

// One history record per wave, each the wave's record.
void checkStationHistory(const QString& stateHome, const QVector<QJsonObject>& records)
{
    QFile history(stateHome + "/quillon/history.jsonl");
    check(history.open(QIODevice::ReadOnly), "no history file");
    const QList<QByteArray> lines = history.readAll().trimmed().split('\n');
    check(lines.size() == records.size(), QString("%1 history lines").arg(lines.size()));
    for (int i = 0; i < records.size() && i < lines.size(); ++i) {
        QJsonObject line = QJsonDocument::fromJson(lines[i]).object();
        QJsonObject record = records[i];
        for (const char* key : {"event", "exitCode", "finishSent"})
            record.remove(key);
        check(line == record, QString("history line %1 differs from wave %1's record").arg(i + 1));
    }
}

int station(const StationPlan& plan, const QString& cli, const QString& folder,
            const QString& stateHome)
{
    const Run run = runCli(cli, {"station", folder, "--wait", "8"}, stateHome);
    check(run.exitCode == plan.exitCode, QString("exit code %1").arg(run.exitCode));
    check(!run.events.isEmpty() && run.events.first()["event"] == "station" &&
              run.events.first()["phase"] == "started" && run.events.first()["folder"] == folder &&
              run.events.first()["wait"] == 8,
          "the station does not begin with its folder and wait");
    const QStringList order = fileOrder(run.events);
    check(order.size() == 3, "files begun: " + order.join(","));
    QSet<QString> arrived;
    QStringList arrivals;
    QVector<QJsonObject> records;
    int waves = 0;
    int lastWaiting = -1;
    for (int i = 0; i < run.events.size(); ++i) {
        const QJsonObject& event = run.events[i];
        const QString kind = event["event"].toString();
        if (kind == "arrived") {
            arrivals << event["calculator"].toString();
            arrived << event["calculator"].toString();
            check(!event["pluggedAgain"].toBool(),
                  event["calculator"].toString() + " arrived as plugged in again");
        }
        if (kind == "countdown") {
            check(event["waiting"].isDouble() && event["seconds"].toInt() >= 0 &&
                      event["seconds"].toInt() <= 5,
                  "countdown " + QJsonDocument(event).toJson(QJsonDocument::Compact));
            lastWaiting = event["waiting"].toInt();
        }
        if (kind != "wave" || event["phase"] != "started")
            continue;
        ++waves;
        check(event["wave"].toInt() == waves,
              QString("wave %1 numbered %2").arg(waves).arg(event["wave"].toInt()));
        check(
            lastWaiting == plan.waves.value(waves - 1).size(),
            QString("wave %1: the countdown before it had %2 waiting").arg(waves).arg(lastWaiting));
        lastWaiting = -1;
        int end = i;
        while (end < run.events.size() &&
               !(run.events[end]["event"] == "wave" && run.events[end]["phase"] == "ended"))
            ++end;
        if (end == run.events.size()) {
            check(false, QString("wave %1 never ends").arg(waves));
            break;
        }
        const QVector<QJsonObject> own = run.events.mid(i, end - i + 1);
        checkWave(plan, waves, own, arrived, order);
        checkTally(plan, waves, run.events[end]["tally"].toObject(),
                   QString("wave %1's end").arg(waves));
        for (const QJsonObject& inside : own) {
            if (inside["event"] == "finished")
                records << inside;
        }
        i = end;
    }
    check(waves == plan.waves.size(), QString("%1 waves").arg(waves));
    QStringList everyone;
    for (const QStringList& wave : plan.waves)
        everyone << wave;
    check(arrivals == everyone, "arrivals: " + arrivals.join(","));
    checkStationEnd(plan, run.finished, order);
    checkStationHistory(stateHome, records);
    return run.exitCode;
}

const std::map<QString, StationPlan>& stationPlans()
{
    // As zenta-emu's scenarios of these names plug them in.
    static const std::map<QString, StationPlan> plans{
        {"station-waves",
         {{{"zt0001", "zt0002", "zt0003"}, {"zt0004", "zt0005", "zt0006"}, {"zt0007", "zt0008"}},
          "zt0006",
          {{}, {"zt0001@1"}, {"zt0001@1"}},
          112}},
        {"station-two", {{{"zt0001"}, {"zt0002"}}, "", {{}, {}}, 0}},
    };
    return plans;
}

// The emulator's account of each disk (zenta-emu --state): every "NAME=V" of every line must be
// 1 unless an expectation "SERIAL:NAME=V" says otherwise; "SERIAL:*=V" sets all of a line's,
// "SERIAL:files=N" asks for exactly N whole files in place of the file names' defaults.
void checkDisks(const QString& stateFile, const QStringList& expectations)
{
    QFile file(stateFile);
    check(file.open(QIODevice::ReadOnly), "no emulator state");
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    check(!lines.isEmpty(), "no calculator in the emulator state");
    for (const QString& line : lines) {
        const QStringList tokens = line.split(' ');
        const QString serial = tokens.value(0);
        int whole = 0;
        int wantWhole = -1;
        for (const QString& expectation : expectations) {
            if (expectation.startsWith(serial + ":files="))
                wantWhole = expectation.section('=', 1).toInt();
        }
        for (const QString& token : tokens.mid(1)) {
            const QString name = token.section('=', 0, 0);
            QString want = wantWhole >= 0 && name != "finish" ? token.section('=', 1) : "1";
            for (const QString& expectation : expectations) {
                if (expectation == serial + ":" + name + "=0" || expectation == serial + ":*=0")
                    want = "0";
            }
            whole += name != "finish" && token.endsWith("=1") ? 1 : 0;
            check(token == name + "=" + want, serial + ": " + token + ", expected " + want);
        }
        if (wantWhole >= 0)
            check(whole == wantWhole, QString("%1: %2 whole files").arg(serial).arg(whole));
    }
}

int windowHistory(const QString& stateHome)
{
    Run run;
    checkHistory(stateHome, run, "quillon-fwupdate");
    QFile history(stateHome + "/quillon/history.jsonl");
    history.open(QIODevice::ReadOnly);
    const QJsonObject record = QJsonDocument::fromJson(history.readLine()).object();
    check(record["outcome"] == "ok" && record["result"] == 0, "outcome");
    check(table(record) == QStringList{rowOk("zt0001")}, "table: " + table(record).join(" | "));
    check(record["calculators"].toArray()[0].toObject()["finish"] == 0,
          "the finish command is recorded on the calculator's row");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return 2;
    if (args[1] == "window-history")
        windowHistory(args[2]);
    if (args[1] == "disks")
        checkDisks(args[2], args.mid(3));
    QTemporaryDir state;
    const auto stationPlan = stationPlans().find(args[1]);
    if (stationPlan != stationPlans().end()) {
        if (args.size() < 4)
            return 2;
        const int code = station(stationPlan->second, args[2], args[3], state.path());
        std::printf("%s: %s\n", qPrintable(args[1]), g_failures == 0 ? "PASS" : "FAIL");
        return g_failures == 0 ? code : 1;
    }
    const std::map<QString, int (*)(const QString&, const QString&)> cases{{"one-fails", oneFails},
                                                                           {"seventeen", seventeen},
                                                                           {"interrupt", interrupt},
                                                                           {"verify", verify}};
    const auto run = cases.find(args[1]);
    if (run != cases.end())
        run->second(args[2], state.path());
    else if (args[1] != "window-history" && args[1] != "disks")
        return 2;
    std::printf("%s: %s\n", qPrintable(args[1]), g_failures == 0 ? "PASS" : "FAIL");
    return g_failures == 0 ? 0 : 1;
}
