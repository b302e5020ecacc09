// What the command-line updater prints: live lines, plain event lines or JSON lines.
#include "cli_report.h"

#include "update/engine_text.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>

namespace {

constexpr qint64 kRedrawMs = 200;
constexpr int kEventStep = 10; // progress events every this many percent, besides 0 and 100

QJsonObject diskJson(const DiskResult& disk, int index)
{
    QJsonObject object{{"index", index},
                       {"serial", toQString(disk.serial)},
                       {"path", toQString(disk.devicePath)},
                       {"size", double(disk.size)},
                       {"passedOver", index >= kMaxDisks}};
    if (disk.node[0] != 0)
        object.insert("node", toQString(disk.node));
    return object;
}

QString resultText(int result)
{
    if (result == kResultOk)
        return "ok";
    if (result == kNotWritten)
        return "not written";
    return QString("failed (%1)").arg(result);
}

QString duration(double seconds)
{
    const int s = seconds < 0 ? 0 : int(seconds + 0.5);
    return QString("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QChar('0'));
}

void out(const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

} // namespace

CliReport::CliReport(Mode mode) : mode_(mode)
{
    clock_.start();
}

void CliReport::emitJson(const QJsonObject& object)
{
    out(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + "\n");
}

void CliReport::line(const QString& text)
{
    out(text + "\n");
}

void CliReport::warning(const QString& text)
{
    std::fputs(("quillon-fwupdate-cli: " + text + "\n").toLocal8Bit().constData(), stderr);
}

void CliReport::waiting(double waitSeconds)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ == Mode::Json) {
        emitJson({{"event", "waiting"},
                  {"wait", waitSeconds < 0 ? QJsonValue() : QJsonValue(waitSeconds)}});
    } else {
        line(waitSeconds < 0 ? "Waiting for a calculator in update mode (Ctrl-C ends)..."
                             : QString("Waiting up to %1 s for a calculator in update mode...")
                                   .arg(waitSeconds));
    }
}

void CliReport::showCalculators(const QVector<DiskResult>& disks)
{
    live_.clear();
    serialOf_.clear();
    for (int i = 0; i < disks.size(); ++i) {
        serialOf_.insert(toQString(disks[i].devicePath), toQString(disks[i].serial));
        if (i < kMaxDisks)
            live_.append({toQString(disks[i].serial), -1, 0, -1, -1});
    }
}

void CliReport::found(const QVector<DiskResult>& disks)
{
    std::lock_guard<std::mutex> guard(lock_);
    showCalculators(disks);
    if (mode_ == Mode::Json) {
        QJsonArray list;
        for (int i = 0; i < disks.size(); ++i)
            list.append(diskJson(disks[i], i));
        emitJson({{"event", "found"}, {"calculators", list}});
        return;
    }
    line(QString("%1 calculator(s) in update mode:").arg(disks.size()));
    for (int i = 0; i < disks.size(); ++i) {
        const DiskResult& disk = disks[i];
        line(QString("  %1  %2  %3 MB  %4%5")
                 .arg(i + 1, 2)
                 .arg(toQString(disk.serial), -20)
                 .arg(disk.size < 0 ? QString("?") : QString::number(disk.size / 1000000))
                 .arg(disk.node[0] != 0 ? toQString(disk.node) + "  " : QString())
                 .arg(toQString(disk.devicePath)));
        if (i >= kMaxDisks)
            line(QString("      passed over: an update writes the first %1 only").arg(kMaxDisks));
    }
}

void CliReport::countdown(int seconds)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ == Mode::Json)
        emitJson({{"event", "countdown"}, {"seconds", seconds}});
    else
        line(QString("Starting in %1 s (Ctrl-C cancels)").arg(seconds));
}

void CliReport::fileStarted(int index, const HistoryFile& file, int attempt)
{
    std::lock_guard<std::mutex> guard(lock_);
    file_ = file;
    for (Live& live : live_)
        live = {live.serial, -1, clock_.elapsed(), -1, -1};
    drawnLines_ = 0;
    if (mode_ == Mode::Json) {
        emitJson({{"event", "fileStarted"},
                  {"file", file.name},
                  {"index", index},
                  {"size", double(file.size)},
                  {"attempt", attempt}});
    } else {
        line(QString("Writing %1 (%2 bytes)%3")
                 .arg(file.name)
                 .arg(file.size)
                 .arg(attempt > 1 ? QString(", attempt %1").arg(attempt) : QString()));
    }
}

QString CliReport::liveLine(const Live& live, qint64 nowMs) const
{
    if (live.percent < 0)
        return QString("  %1  %2  waiting").arg(live.serial, -20).arg(file_.name);
    // Milliseconds and file sizes lie far below 2^53: exact as doubles.
    const qint64 elapsedMs = (live.doneMs >= 0 ? live.doneMs : nowMs) - live.startedMs;
    const double seconds = static_cast<double>(elapsedMs) / 1000.0;
    const double size = static_cast<double>(file_.size);
    const double bytes = size * live.percent / 100.0;
    const double rate = seconds > 0 ? bytes / seconds : 0;
    const QString left = rate > 0 ? duration((size - bytes) / rate) : QString("-:--");
    return QString("  %1  %2  %3%  %4 MB/s  %5 left")
        .arg(live.serial, -20)
        .arg(file_.name)
        .arg(live.percent, 3)
        .arg(rate / 1e6, 5, 'f', 1)
        .arg(left);
}

void CliReport::drawLive(bool force)
{
    const qint64 now = clock_.elapsed();
    if (!force && now - drawnAtMs_ < kRedrawMs)
        return;
    drawnAtMs_ = now;
    QString text;
    if (drawnLines_ > 0)
        text += QString("\x1b[%1A").arg(drawnLines_); // back to the first live line
    for (const Live& live : live_)
        text += "\x1b[2K" + liveLine(live, now) + "\n";
    drawnLines_ = live_.size();
    out(text);
}

void CliReport::progress(int disk, const WChar* path, int percent)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (disk < 0 || disk >= kMaxDisks)
        return;
    // Each transfer searches the calculators again: one unplugged or plugged in since the
    // listing moves the others in its table.
    while (live_.size() <= disk)
        live_.append({QString(), -1, clock_.elapsed(), -1, -1});
    Live& live = live_[disk];
    if (path != nullptr) {
        const QString name = toQString(path);
        live.serial = serialOf_.value(name, name);
    }
    if (percent == 0 || live.percent < 0)
        live.startedMs = clock_.elapsed();
    live.doneMs = percent == 100 ? clock_.elapsed() : -1;
    live.percent = percent;
    if (mode_ == Mode::Terminal) {
        drawLive(percent == 100);
        return;
    }
    // Events at 0, 100 and every tenth percent in between: enough to follow, few enough to read.
    if (percent != 0 && percent != 100 &&
        percent / kEventStep == live.lastEventPercent / kEventStep)
        return;
    live.lastEventPercent = percent;
    if (mode_ == Mode::Json) {
        emitJson({{"event", "progress"},
                  {"file", file_.name},
                  {"calculator", live.serial},
                  {"index", disk},
                  {"percent", percent}});
    } else {
        line(liveLine(live, clock_.elapsed()).trimmed());
    }
}

void CliReport::verifying(const HistoryFile& file)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ == Mode::Json)
        emitJson({{"event", "verifying"}, {"file", file.name}});
    else
        line(QString("Reading %1 back from every calculator").arg(file.name));
}

void CliReport::fileDone(const HistoryFile& file, int result, const DiskResult* disks, int count)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ == Mode::Terminal && drawnLines_ > 0)
        drawLive(true);
    drawnLines_ = 0;
    QJsonArray results;
    QStringList failures;
    for (int i = 0; i < count; ++i) {
        results.append(
            QJsonObject{{"serial", toQString(disks[i].serial)}, {"result", disks[i].result}});
        if (disks[i].result != kResultOk)
            failures << toQString(disks[i].serial) + " " + resultText(disks[i].result);
    }
    if (mode_ == Mode::Json) {
        emitJson({{"event", "fileDone"},
                  {"file", file.name},
                  {"result", result},
                  {"calculators", results}});
    } else {
        line(QString("%1: %2").arg(file.name, result == kResultOk
                                                  ? QString("ok on %1 calculator(s)").arg(count)
                                                  : failures.join(", ")));
    }
}

void CliReport::retry(const HistoryFile& file, int retry, int result)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ == Mode::Json) {
        emitJson({{"event", "retry"}, {"file", file.name}, {"retry", retry}, {"result", result}});
    } else {
        line(QString("Update failed (%1), Retry: %2 - %3 again in 3 s")
                 .arg(result)
                 .arg(retry)
                 .arg(file.name));
    }
}

void CliReport::failed(const QString& reason, int result)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ == Mode::Json)
        emitJson({{"event", "failed"}, {"result", result}, {"reason", reason}});
    else
        line(QString("Update failed (%1): %2").arg(result).arg(reason));
}

void CliReport::interrupting(bool transferring)
{
    std::lock_guard<std::mutex> guard(lock_);
    const QString text = transferring
                             ? "Interrupted: the update stops after the file being written."
                             : "Interrupted: the update stops now.";
    if (mode_ == Mode::Json)
        emitJson({{"event", "interrupted"}, {"afterFile", transferring}, {"message", text}});
    else
        line(text);
    drawnLines_ = 0; // the live lines go on below the message, never over it
}

void CliReport::printTable(const HistoryRecord& record)
{
    QString header = QString("%1").arg("Calculator", -20);
    for (const HistoryFile& file : record.files)
        header += "  " + QString("%1").arg(file.name, -18);
    line(header);
    for (const HistoryCalculator& calculator : record.calculators) {
        QString row = QString("%1").arg(calculator.serial, -20);
        if (calculator.passedOver)
            row += "  passed over (more than 16 calculators)";
        for (int i = 0; !calculator.passedOver && i < calculator.results.size(); ++i)
            row += "  " + QString("%1").arg(resultText(calculator.results[i]), -18);
        line(row);
    }
}

void CliReport::finished(const HistoryRecord& record, int exitCode)
{
    const bool finishSent = finishReachedAll(record);
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ == Mode::Json) {
        QJsonObject object = historyJson(record);
        object.insert("event", "finished");
        object.insert("exitCode", exitCode);
        object.insert("finishSent", finishSent);
        emitJson(object);
        return;
    }
    if (!record.calculators.isEmpty())
        printTable(record);
    // Only what happened: the calculators the finish command did not reach are named.
    QStringList missed;
    QStringList stayed;
    for (const HistoryCalculator& calculator : record.calculators) {
        if (calculator.passedOver || calculator.finish == kResultOk)
            continue;
        if (calculator.finish == kResultStayedInUpdateMode)
            stayed << calculator.serial;
        else
            missed << calculator.serial + (calculator.finish == kNotWritten
                                               ? QString(" (not found)")
                                               : QString(" (%1)").arg(calculator.finish));
    }
    QStringList finish;
    if (finishSent)
        finish << "finish command sent";
    if (!missed.isEmpty())
        finish << "finish command not sent to " + missed.join(", ");
    if (!stayed.isEmpty())
        finish << QString("sent to %1, which stayed in update mode (%2)")
                      .arg(stayed.join(", "))
                      .arg(kResultStayedInUpdateMode);
    line(QString("%1 %2 (exit code %3)%4")
             .arg(record.wave > 0 ? QString("Wave %1").arg(record.wave) : QString("Update"))
             .arg(record.outcome)
             .arg(exitCode)
             .arg(finish.isEmpty() ? QString() : ", " + finish.join("; ")));
}

namespace {

QJsonObject tallyJson(const StationTally& tally)
{
    return {{"updated", tally.updated}, {"failed", tally.failed}, {"waiting", tally.waiting}};
}

QString serialOrPath(const DiskResult& disk)
{
    return disk.serial[0] != 0 ? toQString(disk.serial) : toQString(disk.devicePath);
}

} // namespace

void CliReport::tallyLine(const StationTally& tally)
{
    line(QString("Tally: %1 updated, %2 failed, %3 waiting")
             .arg(tally.updated)
             .arg(tally.failed)
             .arg(tally.waiting));
}

void CliReport::stationStarted(const QString& folder, double waitSeconds)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ == Mode::Json) {
        emitJson({{"event", "station"},
                  {"phase", "started"},
                  {"folder", folder},
                  {"wait", waitSeconds < 0 ? QJsonValue() : QJsonValue(waitSeconds)}});
        return;
    }
    line(QString("Station: %1 checked. Plug in calculators in update mode; each wave starts 5 s "
                 "after the last one came (%2).")
             .arg(folder)
             .arg(waitSeconds < 0 ? QString("Ctrl-C ends")
                                  : QString("ends after %1 s without a new one").arg(waitSeconds)));
}

void CliReport::arrived(const DiskResult& disk, bool pluggedAgain, const StationTally& tally)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ == Mode::Json) {
        emitJson({{"event", "arrived"},
                  {"calculator", toQString(disk.serial)},
                  {"path", toQString(disk.devicePath)},
                  {"pluggedAgain", pluggedAgain}});
        return;
    }
    line(QString("Plugged in: %1%2")
             .arg(serialOrPath(disk))
             .arg(pluggedAgain ? QString(" (plugged in again: it is written again)") : QString()));
    tallyLine(tally);
}

void CliReport::countdown(int seconds, int waiting)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ == Mode::Json)
        emitJson({{"event", "countdown"}, {"seconds", seconds}, {"waiting", waiting}});
    else
        line(QString("Next wave (%1 calculator(s)) in %2 s, unless another is plugged in")
                 .arg(waiting)
                 .arg(seconds));
}

void CliReport::waveStarted(int wave, const QVector<DiskResult>& calculators,
                            const QStringList& waitingForNext,
                            const QVector<QPair<DiskResult, int>>& alreadyWritten)
{
    std::lock_guard<std::mutex> guard(lock_);
    showCalculators(calculators);
    if (mode_ == Mode::Json) {
        QJsonArray list;
        for (int i = 0; i < calculators.size(); ++i)
            list.append(diskJson(calculators[i], i));
        QJsonArray written;
        for (const auto& entry : alreadyWritten)
            written.append(
                QJsonObject{{"serial", toQString(entry.first.serial)}, {"wave", entry.second}});
        emitJson({{"event", "wave"},
                  {"phase", "started"},
                  {"wave", wave},
                  {"calculators", list},
                  {"waitingForNext", QJsonArray::fromStringList(waitingForNext)},
                  {"alreadyWritten", written}});
        return;
    }
    QStringList names;
    for (const DiskResult& disk : calculators)
        names << serialOrPath(disk);
    line(
        QString("Wave %1: %2 calculator(s): %3").arg(wave).arg(names.size()).arg(names.join(", ")));
    if (!waitingForNext.isEmpty())
        line(QString("  no room in this wave, next: %1").arg(waitingForNext.join(", ")));
    for (const auto& entry : alreadyWritten)
        line(QString("  %1: written by wave %2, not again until it is plugged in again")
                 .arg(serialOrPath(entry.first))
                 .arg(entry.second));
}

void CliReport::waveEnded(int wave, int result, const StationTally& tally)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ == Mode::Json) {
        emitJson({{"event", "wave"},
                  {"phase", "ended"},
                  {"wave", wave},
                  {"result", result},
                  {"tally", tallyJson(tally)}});
        return;
    }
    tallyLine(tally);
    line(QString("Waiting for the next wave (Ctrl-C ends the station)..."));
}

void CliReport::stationEnded(const StationTracker& tracker, const QList<CUpdateFile*>& files,
                             int exitCode)
{
    std::lock_guard<std::mutex> guard(lock_);
    const StationTally tally = tracker.tally();
    if (mode_ == Mode::Json) {
        QJsonArray rows;
        for (const StationRow& row : tracker.rows()) {
            QJsonObject results;
            for (int i = 0; i < files.size() && i < row.results.size(); ++i)
                results.insert(files[i]->fileName, row.results[i] == kNotWritten
                                                       ? QJsonValue()
                                                       : QJsonValue(row.results[i]));
            rows.append(QJsonObject{
                {"serial", row.serial},
                {"path", row.path},
                {"wave", row.wave},
                {"results", results},
                {"finish", row.finish == kNotWritten ? QJsonValue() : QJsonValue(row.finish)},
                {"updated", row.updated},
                {"pluggedAgain", row.pluggedAgain},
                {"seconds", double(row.seconds)}});
        }
        emitJson({{"event", "station"},
                  {"phase", "ended"},
                  {"exitCode", exitCode},
                  {"waves", tracker.waves()},
                  {"tally", tallyJson(tally)},
                  {"calculators", rows}});
        return;
    }
    if (!tracker.rows().isEmpty()) {
        QString header = QString("%1  Wave").arg("Calculator", -20);
        for (const CUpdateFile* file : files)
            header += "  " + QString("%1").arg(file->fileName, -18);
        line(header + "  Finish        Time");
        for (const StationRow& row : tracker.rows()) {
            QString text = QString("%1  %2").arg(row.serial, -20).arg(row.wave, 4);
            for (int i = 0; i < files.size(); ++i)
                text +=
                    "  " + QString("%1").arg(resultText(row.results.value(i, kNotWritten)), -18);
            text +=
                "  " + QString("%1").arg(
                           row.finish == kResultOk ? QString("sent") : resultText(row.finish), -12);
            text += "  " + duration(double(row.seconds));
            if (row.pluggedAgain)
                text += "  (plugged in again)";
            line(text);
        }
    }
    line(QString("Station ended after %1 wave(s): %2 updated, %3 failed, %4 still waiting (exit "
                 "code %5)")
             .arg(tracker.waves())
             .arg(tally.updated)
             .arg(tally.failed)
             .arg(tally.waiting)
             .arg(exitCode));
}
