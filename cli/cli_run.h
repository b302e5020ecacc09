#pragma once

// What `update` and `station` share: one update's files, run and report, its writing with the
// retries, and its end (the finish command, the history, the outcome).

#include "cli_options.h"
#include "cli_report.h"
#include "settings/single_instance.h"
#include "update/update_files.h"
#include "update/update_run.h"

#include <QList>

constexpr int kCliListCapacity = 256;

struct CliRun {
    CliRun(const CliOptions& options, CliReport& report, const QList<CUpdateFile*>& files,
           const QString& folder);
    const CliOptions& options;
    CliReport& report;
    QList<CUpdateFile*> files;
    UpdateRun run;
    HistoryRecord& record() { return run.record(); }
};

// The report that the transfer threads' progress and Ctrl-C reach.
void setCliReport(CliReport* report);
// Says once that Ctrl-C came (`transferring`: the file under way is finished first).
void noticeInterrupt(bool transferring);
// Sleeps through the host, in short steps; false as soon as Ctrl-C has come.
bool pauseUnlessInterrupted(int milliseconds);

// The folder given, or the work folder's default.
QString cliFolder(const CliOptions& options);
// The folder's update files into `files` (the caller deletes them) and the writers' guard:
// kExitOk, or kExitNoUpdate / kExitBusy, reported.
int prepareUpdate(const QString& folder, CliReport& report, SingleInstance& guard,
                  QList<CUpdateFile*>* files);

// Checks the set (against `sameAs` too, when given) and writes it; gives the update's code and
// sets the record's outcome.
int writeUpdate(CliRun& cli, const QVector<SourceDigest>* sameAs = nullptr);
// The finish command, whatever `code` is (unless `sendFinish` is false: calculators that are to
// wait in update mode for another try), then the history and the report's last word; gives the
// update's final code.
int endUpdate(CliRun& cli, int code, bool sendFinish = true);
