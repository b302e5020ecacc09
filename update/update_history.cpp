// The update history: building a record from the engine's per-calculator results, and the
// history file it is appended to.
#include "update/update_history.h"

#include "text/regular_file.h"
#include "update/engine_text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>

namespace {

QJsonValue resultJson(int result)
{
    return result == kNotWritten ? QJsonValue() : QJsonValue(result);
}

// Starts the file again when it ends in the middle of a line (a damaged or cut write), so that
// the new record is a line of its own and nothing of the old is lost.
bool endsMidLine(QFile& file)
{
    if (file.size() == 0 || !file.seek(file.size() - 1))
        return false;
    char last = '\n';
    return file.getChar(&last) && last != '\n';
}

} // namespace

HistoryRecord beginHistoryRecord(const QString& program, const QString& version,
                                 const QString& folder, const QVector<HistoryFile>& files)
{
    HistoryRecord record;
    record.time = QDateTime::currentDateTimeUtc();
    record.program = program;
    record.version = version;
    record.folder = QDir::toNativeSeparators(folder);
    record.files = files;
    return record;
}

HistoryCalculator& historyCalculator(HistoryRecord* record, const DiskResult& disk)
{
    const QString path = toQString(disk.devicePath);
    for (HistoryCalculator& calculator : record->calculators) {
        if (calculator.path == path)
            return calculator;
    }
    HistoryCalculator calculator;
    calculator.serial = toQString(disk.serial);
    calculator.path = path;
    calculator.node = toQString(disk.node);
    calculator.results.fill(kNotWritten, record->files.size());
    record->calculators.append(calculator);
    return record->calculators.last();
}

void noteTransferResults(HistoryRecord* record, int file, const DiskResult* disks, int count)
{
    if (file < 0 || file >= record->files.size())
        return;
    for (int i = 0; i < count; ++i)
        historyCalculator(record, disks[i]).results[file] = disks[i].result;
}

bool everyFileWritten(const HistoryRecord& record)
{
    for (const HistoryCalculator& calculator : record.calculators) {
        if (calculator.passedOver)
            return false;
    }
    return !record.calculators.isEmpty() && filesWrittenToAll(record, record.files.size() - 1);
}

void noteFinishResults(HistoryRecord* record, const DiskResult* disks, int count)
{
    for (HistoryCalculator& calculator : record->calculators)
        calculator.finish = kNotWritten;
    for (int i = 0; i < count; ++i) {
        const QString path = toQString(disks[i].devicePath);
        for (HistoryCalculator& calculator : record->calculators) {
            if (calculator.path == path)
                calculator.finish = disks[i].result;
        }
    }
}

bool finishReachedAll(const HistoryRecord& record)
{
    int reached = 0;
    for (const HistoryCalculator& calculator : record.calculators) {
        if (calculator.passedOver)
            continue;
        if (calculator.finish != kResultOk)
            return false;
        ++reached;
    }
    return reached > 0;
}

int finishFailure(const HistoryRecord& record)
{
    if (finishReachedAll(record))
        return kResultOk;
    for (const HistoryCalculator& calculator : record.calculators) {
        if (!calculator.passedOver && calculator.finish != kResultOk)
            return calculator.finish == kNotWritten ? kResultNoDevice : calculator.finish;
    }
    return kResultNoDevice;
}

bool filesWrittenToAll(const HistoryRecord& record, int file, const QSet<QString>& except)
{
    for (const HistoryCalculator& calculator : record.calculators) {
        const bool counted = !calculator.passedOver && !except.contains(calculator.path);
        for (int i = 0; counted && i <= file; ++i) {
            if (calculator.results.value(i, kNotWritten) != kResultOk)
                return false;
        }
    }
    return true;
}

QJsonObject historyJson(const HistoryRecord& record)
{
    QJsonArray files;
    for (const HistoryFile& file : record.files) {
        files.append(QJsonObject{{"name", file.name},
                                 {"size", double(file.size)},
                                 {"sha256", QString::fromLatin1(file.sha256.toHex())}});
    }
    QJsonArray calculators;
    for (const HistoryCalculator& calculator : record.calculators) {
        QJsonObject results;
        for (int i = 0; i < record.files.size() && i < calculator.results.size(); ++i)
            results.insert(record.files[i].name, resultJson(calculator.results[i]));
        QJsonObject row{{"serial", calculator.serial},
                        {"path", calculator.path},
                        {"results", results},
                        {"finish", resultJson(calculator.finish)}};
        if (!calculator.node.isEmpty())
            row.insert("node", calculator.node);
        if (calculator.passedOver)
            row.insert("passedOver", true);
        calculators.append(row);
    }
    QJsonObject object{{"time", record.time.toString(Qt::ISODate)},
                       {"program", record.program},
                       {"version", record.version},
                       {"folder", record.folder},
                       {"files", files},
                       {"calculators", calculators},
                       {"outcome", record.outcome},
                       {"result", record.result}};
    if (record.wave > 0)
        object.insert("wave", record.wave);
    return object;
}

QString historyFilePath()
{
#ifdef Q_OS_WIN
    // GenericDataLocation is %LOCALAPPDATA% on Windows.
    const QString base =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Quillon";
#else
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // A relative value is to be ignored, as for every XDG variable.
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + "/.local/state";
    const QString base = state + "/quillon";
#endif
    return QDir::toNativeSeparators(base + "/history.jsonl");
}

namespace {

// The history's older part, which a rotation moved aside: history.1.jsonl beside history.jsonl.
QString olderHistoryPath(const QString& path)
{
    const QFileInfo info(path);
    return info.absolutePath() + "/" + info.completeBaseName() + ".1.jsonl";
}

} // namespace

bool appendHistory(const HistoryRecord& record, QString* error, const QString& path)
{
    const QString target = path.isEmpty() ? historyFilePath() : path;
    const QByteArray line =
        QJsonDocument(historyJson(record)).toJson(QJsonDocument::Compact) + '\n';
    if (!QDir().mkpath(QFileInfo(target).absolutePath())) {
        *error = QString("cannot make the folder of %1").arg(target);
        return false;
    }
    const QFileInfo info(target);
    // A FIFO or a device would swallow the record, or hold the program.
    if (info.exists() && !info.isFile()) {
        *error = QString("%1 is no plain file").arg(target);
        return false;
    }
    if (info.exists() && info.size() + line.size() > kHistoryRotateBytes) {
        const QString older = olderHistoryPath(target);
        QFile::remove(older);
        QFile::rename(target, older); // if it fails, the file only grows past the bound
    }
    QFile file(target);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append)) {
        *error = QString("cannot open %1: %2").arg(target, file.errorString());
        return false;
    }
    const QByteArray out = endsMidLine(file) ? '\n' + line : line;
    if (!file.seek(file.size()) || file.write(out) != out.size() || !file.flush()) {
        *error = QString("cannot write %1: %2").arg(target, file.errorString());
        return false;
    }
    return true;
}

namespace {

bool readHistoryFile(const QString& source, QVector<QJsonObject>* records, int* unreadable,
                     QString* error)
{
    QFile file(source);
    if (!QFileInfo::exists(source))
        return true;
    // Never waited on: a FIFO in its place would hold the read until a writer came.
    if (!openRegularFile(source, &file)) {
        *error = QFileInfo(source).isFile()
                     ? QString("cannot read %1").arg(source)
                     : QString("cannot read %1: it is no plain file").arg(source);
        return false;
    }
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.isEmpty())
            continue;
        QJsonParseError parse;
        const QJsonDocument document = QJsonDocument::fromJson(line, &parse);
        if (parse.error != QJsonParseError::NoError || !document.isObject() ||
            !document.object().contains("outcome"))
            ++*unreadable;
        else
            records->append(document.object());
    }
    return true;
}

} // namespace

bool readHistory(QVector<QJsonObject>* records, int* unreadable, QString* error,
                 const QString& path)
{
    const QString source = path.isEmpty() ? historyFilePath() : path;
    records->clear();
    *unreadable = 0;
    // Oldest first: what the last rotation moved aside, then the file being appended to.
    return readHistoryFile(olderHistoryPath(source), records, unreadable, error) &&
           readHistoryFile(source, records, unreadable, error);
}
