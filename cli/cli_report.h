#pragma once

#include "update/station.h"
#include "update/update_files.h"
#include "update/update_history.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QVector>

#include <mutex>

// What the command-line updater tells its user: live lines on a terminal, one line per event
// when the output goes elsewhere, or one JSON object per line. Progress comes from the engine's
// transfer threads; everything else from the main thread.
class CliReport {
public:
    enum class Mode { Terminal, Lines, Json };

    explicit CliReport(Mode mode);

    void waiting(double waitSeconds);
    // Every calculator present; those at index kMaxDisks and past it are passed over.
    void found(const QVector<DiskResult>& disks);
    void countdown(int seconds);
    void fileStarted(int index, const HistoryFile& file, int attempt);
    // Any thread: one calculator's percentage of the file being written; `disk` is its index
    // in the transfer's disk table, `path` its interface path (named by the serial `found`
    // gave it).
    void progress(int disk, const WChar* path, int percent);
    void verifying(const HistoryFile& file);
    void fileDone(const HistoryFile& file, int result, const DiskResult* disks, int count);
    void retry(const HistoryFile& file, int retry, int result);
    void failed(const QString& reason, int result);
    void interrupting(bool transferring);
    // The record as it will be kept; "finish command sent" only when every calculator got it.
    void finished(const HistoryRecord& record, int exitCode);
    // A problem that does not change the outcome (the history, for one).
    void warning(const QString& text);

    // The station's own: its start, each calculator plugged in, the countdown to its next wave,
    // each wave's start and end with the tally, and at the end one table of every calculator
    // of the run.
    void stationStarted(const QString& folder, double waitSeconds);
    void arrived(const DiskResult& disk, bool pluggedAgain, const StationTally& tally);
    void countdown(int seconds, int waiting);
    // `waitingForNext`: those present that the wave has no room for.
    void waveStarted(int wave, const QVector<DiskResult>& calculators,
                     const QStringList& waitingForNext,
                     const QVector<QPair<DiskResult, int>>& alreadyWritten);
    void waveEnded(int wave, int result, const StationTally& tally);
    void stationEnded(const StationTracker& tracker, const QList<CUpdateFile*>& files,
                      int exitCode);

private:
    struct Live {
        QString serial;
        int percent = -1;
        qint64 startedMs = 0;
        int lastEventPercent = -1;
        qint64 doneMs = -1; // when 100 came: the rate shown stays that of the file
    };

    void emitJson(const QJsonObject& object);
    void line(const QString& text);
    void drawLive(bool force);
    QString liveLine(const Live& live, qint64 nowMs) const;
    void printTable(const HistoryRecord& record);
    void showCalculators(const QVector<DiskResult>& disks); // for the progress lines
    void tallyLine(const StationTally& tally);

    const Mode mode_;
    std::mutex lock_; // the live state and the output, from several threads
    QElapsedTimer clock_;
    QVector<Live> live_;               // by index in the running transfer's disk table
    QHash<QString, QString> serialOf_; // of each path `found` listed
    HistoryFile file_;                 // being written
    int drawnLines_ = 0;
    qint64 drawnAtMs_ = -1000;
};
