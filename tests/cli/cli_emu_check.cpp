// Runs quillon-fwupdate-cli inside the emulator's test bed (zenta-emu --run) and checks its exit
// code, its JSON lines against their schema, and what each emulated calculator's disk holds.
//   cli_emu_check CASE CLI      with CASE one-fails, seventeen, interrupt or verify
//   cli_emu_check window-history DIR   the history line the window left in DIR (no test bed)
//   cli_emu_check disks STATE [EXPECTATION...]   what zenta-emu --state said of the disks
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
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

// Keys every event of a kind must have, with the JSON type of each.
const std::map<QString, std::map<QString, QJsonValue::Type>>& schema()
{
    using T = QJsonValue::Type;
    static const std::map<QString, std::map<QString, T>> events{
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
    const auto kind = schema().find(event["event"].toString());
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
