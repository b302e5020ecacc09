#pragma once

#include "device/engine.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QSet>
#include <QString>
#include <QVector>

// The update history: one JSON line per update, from the window and the command line alike, in
// the user's state folder. Writing it never delays nor fails an update: a history that cannot be
// written is reported by the caller on standard error or in the log.

// A file's result on a calculator that never got to it.
constexpr int kNotWritten = -1;

struct HistoryFile {
    QString name;
    std::int64_t size = 0;
    QByteArray sha256; // raw 32 bytes
};

struct HistoryCalculator {
    QString serial;
    QString path; // the interface path the engine found it by
    QString node;
    bool passedOver = false; // present, but past the calculators one update writes
    QVector<int> results;    // per file of the record, the latest attempt's code or kNotWritten
    // The finish command: 0 when it was written, the failure's code (107, 112), or kNotWritten
    // when the finish found no such calculator (or none was sent yet).
    int finish = kNotWritten;
};

struct HistoryRecord {
    QDateTime time; // when the update began
    QString program;
    QString version;
    QString folder;
    QVector<HistoryFile> files;
    QVector<HistoryCalculator> calculators;
    QString outcome; // "ok", "failed", "refused" or "interrupted"
    int result = 0;  // the update's code: 0, or what made it fail
    int wave = 0;    // a station's wave (1 for its first), 0 for an update of its own
};

// The files of an update, before the calculators are known.
HistoryRecord beginHistoryRecord(const QString& program, const QString& version,
                                 const QString& folder, const QVector<HistoryFile>& files);

// A calculator's row (found by its path, added when new), with every file not written yet.
HistoryCalculator& historyCalculator(HistoryRecord* record, const DiskResult& disk);

// Keeps each disk's result of one transfer of file `file`; a later attempt replaces an earlier.
void noteTransferResults(HistoryRecord* record, int file, const DiskResult* disks, int count);

// Keeps each disk's result of the finish command (FinishCalculatorDisks) on its calculator's row;
// a row the finish did not find keeps kNotWritten.
void noteFinishResults(HistoryRecord* record, const DiskResult* disks, int count);
// True when the finish command was written to every calculator that was not passed over, and
// there was one at least.
bool finishReachedAll(const HistoryRecord& record);
// 0 when finishReachedAll, else the code of the first calculator it missed (104 for one the
// finish did not find, or when there is none): a calculator left in update mode is no success.
int finishFailure(const HistoryRecord& record);
// True when every calculator of the record that was not passed over (nor is in `except`, by
// path) holds the files up to and including `file`: a calculator unplugged during the update,
// or plugged in after its first files, has not.
bool filesWrittenToAll(const HistoryRecord& record, int file,
                       const QSet<QString>& except = QSet<QString>());

// True when every calculator that was not passed over holds every file.
bool everyFileWritten(const HistoryRecord& record);

QJsonObject historyJson(const HistoryRecord& record);

// $XDG_STATE_HOME/quillon/history.jsonl (~/.local/state when unset), or
// %LOCALAPPDATA%\Quillon\history.jsonl on Windows.
QString historyFilePath();

// The history is rotated when an append would take it past this: the older lines go to
// history.1.jsonl, which replaces the one before.
constexpr qint64 kHistoryRotateBytes = 4 << 20;

// Appends the record as one line to the history at `path` (historyFilePath() when empty); never
// rewrites what is there, and starts a fresh line after a damaged last line. False, with the
// reason, when it cannot be written.
bool appendHistory(const HistoryRecord& record, QString* error, const QString& path = QString());

// The records of the history at `path`, oldest first (those a rotation moved to history.1.jsonl
// before the others); the lines that are not records are counted
// in `unreadable` and left out. False, with the reason, when the file exists but cannot be read;
// a missing history is an empty one.
bool readHistory(QVector<QJsonObject>* records, int* unreadable, QString* error,
                 const QString& path = QString());
