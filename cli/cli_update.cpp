// The command-line update: the same policy as the window's, one step after the other on the
// main thread, with Ctrl-C looked at between steps.
#include "cli_update.h"

#include "interrupt.h"
#include "settings/settings.h"
#include "settings/single_instance.h"
#include "update/engine_text.h"
#include "update/update_policy.h"
#include "update/update_scan.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace {

const WChar* const kVendorId = kCalculatorVendorId16.text;
const WChar* const kProductId = kCalculatorProductId16.text;

constexpr int kPollMs = 500;
constexpr int kStepMs = 100; // how soon a pause notices Ctrl-C
constexpr int kCountdownSeconds = 5;
constexpr int kListCapacity = 256;

// The transfer threads' callbacks reach the report through these.
CliReport* g_report = nullptr;
std::atomic<bool> g_interruptShown{false};

void noticeInterrupt(bool transferring)
{
    if (interruptCount() > 0 && !g_interruptShown.exchange(true))
        g_report->interrupting(transferring);
}

void onProgress(int percent)
{
    g_report->progress(CurrentTransferDisk(), CurrentTransferDiskPath(), percent);
    noticeInterrupt(true);
}

void onMessage(const WChar*) {}

// Sleeps through the host, in short steps; false as soon as Ctrl-C has come.
bool pauseUnlessInterrupted(int milliseconds)
{
    for (int slept = 0; slept < milliseconds; slept += kStepMs) {
        if (interruptCount() > 0)
            return false;
        HostSleep(std::min(kStepMs, milliseconds - slept));
    }
    return interruptCount() == 0;
}

QVector<DiskResult> listCalculators(bool open = true)
{
    QVector<DiskResult> disks(kListCapacity);
    const int found = ListCalculatorDisks(kVendorId, kProductId, disks.data(), kListCapacity, open);
    disks.resize(std::min(found, kListCapacity));
    return disks;
}

// kExitOk once a calculator is there, kExitNoCalculator after --wait, kExitInterrupted.
int waitForCalculator(double waitSeconds, CliReport& report)
{
    report.waiting(waitSeconds);
    for (qint64 waitedMs = 0;; waitedMs += kPollMs) {
        if (IsCalculatorConnected(kVendorId, kProductId))
            return kExitOk;
        if (waitSeconds >= 0 && static_cast<double>(waitedMs) >= waitSeconds * 1000)
            return kExitNoCalculator;
        if (!pauseUnlessInterrupted(kPollMs))
            return kExitInterrupted;
    }
}

struct UpdateRun {
    const CliOptions& options;
    CliReport& report;
    QList<CUpdateFile*> files;
    QVector<SourceDigest> digests;
    HistoryRecord record;
};

bool samePath(const WChar* a, const WChar* b)
{
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// A failed read-back makes that calculator's result 113 (or the read-back's own code). A
// calculator that took the file but is missing from the read-back was not checked: it is no
// success either (104, as for a calculator gone).
int verifyFile(UpdateRun& run, int index, DiskResult* disks, int count)
{
    const CUpdateFile& file = *run.files[index];
    run.report.verifying(run.record.files[index]);
    DiskResult checked[kMaxDisks];
    const int read =
        std::min(VerifyCalculatorDisks(kVendorId, kProductId, toString16(file.path).c_str(),
                                       file.diskOffset, run.digests[index], checked, kMaxDisks),
                 kMaxDisks);
    int result = read > 0 ? kResultOk : kResultNoDevice;
    for (int i = 0; i < count; ++i) {
        if (disks[i].result == kResultOk) {
            disks[i].result = kResultNoDevice;
            for (int j = 0; j < read; ++j) {
                if (samePath(disks[i].devicePath, checked[j].devicePath))
                    disks[i].result = checked[j].result;
            }
        }
        if (result == kResultOk)
            result = disks[i].result;
    }
    return result;
}

int transferOnce(UpdateRun& run, int index)
{
    const CUpdateFile& file = *run.files[index];
    int result = RunCheckedTransfer(kVendorId, kProductId, toString16(file.path).c_str(),
                                    file.diskOffset, &run.digests[index], onProgress, onMessage);
    DiskResult disks[kMaxDisks];
    const int count = std::min(GetTransferResults(disks, kMaxDisks), kMaxDisks);
    if (result == kResultOk && run.options.verify)
        result = verifyFile(run, index, disks, count);
    noteTransferResults(&run.record, index, disks, count);
    run.report.fileDone(run.record.files[index], result, disks, count);
    return result;
}

// 0, the file's code after its last retry, or kExitInterrupted when Ctrl-C ended the retries.
int writeFile(UpdateRun& run, int index)
{
    for (int attempt = 1;; ++attempt) {
        run.report.fileStarted(index, run.record.files[index], attempt);
        const int result = transferOnce(run, index);
        noticeInterrupt(false);
        if (result == kResultOk || attempt > kRetries)
            return result;
        if (interruptCount() > 0)
            return kExitInterrupted;
        run.report.retry(run.record.files[index], attempt, result);
        if (!pauseUnlessInterrupted(kRetryPauseMs)) {
            noticeInterrupt(false);
            return kExitInterrupted;
        }
    }
}

// The first calculator's failing code, for an update that went on past a calculator that
// dropped out; 0 when every one holds every file.
int firstFailure(const HistoryRecord& record)
{
    for (const HistoryCalculator& calculator : record.calculators) {
        for (int result : calculator.results) {
            if (!calculator.passedOver && result != kResultOk)
                return result == kNotWritten ? kResultNoDevice : result;
        }
    }
    return kResultOk;
}

bool anyReceived(const HistoryRecord& record, int file)
{
    for (const HistoryCalculator& calculator : record.calculators) {
        if (calculator.results.value(file, kNotWritten) == kResultOk)
            return true;
    }
    return false;
}

bool anyPassedOver(const HistoryRecord& record)
{
    for (const HistoryCalculator& calculator : record.calculators) {
        if (calculator.passedOver)
            return true;
    }
    return false;
}

// Checks the set and writes it; gives the update's code and sets the record's outcome.
int writeUpdate(UpdateRun& run)
{
    // Ctrl-C stops the check too: a large file may take a while to read whole.
    const UpdateSetCheck check = checkUpdateSet(
        updateSetOf(run.files), calculatorDiskSizes(kVendorId, kProductId), &interruptRequested());
    if (check.result == kResultStopped) {
        noticeInterrupt(false);
        run.record.outcome = "interrupted";
        return kExitInterrupted;
    }
    if (check.result != kResultOk) {
        run.report.failed(check.reason, check.result);
        run.record.outcome = "refused";
        return check.result;
    }
    run.digests = check.digests;
    for (int i = 0; i < run.record.files.size(); ++i)
        run.record.files[i].sha256 = QByteArray(
            reinterpret_cast<const char*>(run.digests[i].sha256), sizeof run.digests[i].sha256);
    for (int i = 0; i < run.files.size(); ++i) {
        // Between files (the first one included: Ctrl-C may come while the set is checked) the
        // update stops at once; a file under way is never cut, and none is begun after it,
        // whether it ended written or failed.
        const bool stopNow = interruptCount() > 0;
        if (stopNow)
            noticeInterrupt(false);
        const int result = stopNow ? kExitInterrupted : writeFile(run, i);
        if (result == kExitInterrupted || (interruptCount() > 0 && i + 1 < run.files.size())) {
            run.record.outcome = "interrupted";
            return kExitInterrupted;
        }
        // One calculator that keeps failing does not hold back the rest of a class set: the
        // update goes on while any calculator received the file.
        if (result != kResultOk && !anyReceived(run.record, i)) {
            run.report.failed(QString("%1 could not be written").arg(run.files[i]->fileName),
                              result);
            run.record.outcome = "failed";
            return result;
        }
    }
    const int failure = firstFailure(run.record);
    run.record.outcome = failure != kResultOk        ? "failed"
                         : anyPassedOver(run.record) ? "partial"
                                                     : "ok";
    return failure != kResultOk ? failure : anyPassedOver(run.record) ? kExitPassedOver : kExitOk;
}

QVector<HistoryFile> historyFiles(const QList<CUpdateFile*>& files)
{
    QVector<HistoryFile> out;
    for (const CUpdateFile* file : files)
        out.append({file->fileName, file->size, QByteArray()});
    return out;
}

// Up to the first transfer; false when Ctrl-C came.
bool countDown(CliReport& report)
{
    for (int seconds = kCountdownSeconds; seconds > 0; --seconds) {
        report.countdown(seconds);
        if (!pauseUnlessInterrupted(1000))
            return false;
    }
    return true;
}

int updateWithCalculators(UpdateRun& run)
{
    const QVector<DiskResult> present = listCalculators();
    run.report.found(present);
    for (int i = 0; i < present.size(); ++i)
        historyCalculator(&run.record, present[i]).passedOver = i >= kMaxDisks;
    int code = kExitInterrupted;
    run.record.outcome = "interrupted";
    if (run.options.yes || countDown(run.report))
        code = writeUpdate(run);
    else
        noticeInterrupt(false);
    // Whatever the outcome: the calculators leave update mode only on this command, and each
    // one's row tells whether it got it.
    DiskResult finished[kMaxDisks];
    const int reached = FinishCalculatorDisks(kVendorId, kProductId, finished, kMaxDisks);
    noteFinishResults(&run.record, finished, std::min(reached, kMaxDisks));
    // A calculator left in update mode has not been updated as it should.
    const int finish = finishFailure(run.record);
    if (code == kExitOk && finish != kResultOk) {
        code = finish;
        run.record.outcome = "failed";
    }
    run.record.result = code;
    QString error;
    if (!appendHistory(run.record, &error))
        run.report.warning("the update history was not written: " + error);
    run.report.finished(run.record, code);
    return code;
}

} // namespace

int runUpdate(const CliOptions& options, CliReport& report)
{
    g_report = &report;
    const QString folder = options.folder.isEmpty() ? loadSettings().workFolder : options.folder;
    UpdateRun run{options, report, {}, {}, {}};
    const QFileInfoList listing = listUpdateFolder(folder);
    const bool newGeneration = isNewGenerationListing(listing);
    run.files = updateFilesOf(listing, newGeneration);
    const QString problem = updateFolderProblem(folder, run.files, newGeneration);
    int code = kExitNoUpdate;
    // The window and every other update from the command line hold the same guard for as long
    // as they may write: two writers must never reach one calculator.
    SingleInstance guard;
    if (!problem.isEmpty()) {
        report.failed(problem, kExitNoUpdate);
    } else if (!guard.take()) {
        code = kExitBusy;
        report.failed("another copy of the updater (its window or an update from the command "
                      "line) is running; it may be writing the calculators",
                      code);
    } else {
        code = waitForCalculator(options.waitSeconds, report);
        if (code == kExitNoCalculator)
            report.failed("no calculator in update mode was found", code);
        else if (code == kExitInterrupted)
            noticeInterrupt(false);
    }
    if (code == kExitOk) {
        run.record =
            beginHistoryRecord("quillon-fwupdate-cli", QUILLON_VERSION,
                               QFileInfo(folder).absoluteFilePath(), historyFiles(run.files));
        code = updateWithCalculators(run);
    }
    qDeleteAll(run.files);
    return code;
}

int runList(CliReport& report)
{
    // An update under way (the window, or `update`) holds the guard: opening its calculators,
    // even for a moment, could make its next file fail with 107. They are then listed unopened.
    bool updating = false;
    {
        SingleInstance probe;
        updating = !probe.take();
    }
    if (updating)
        report.warning("another copy of the updater is running: the calculators are listed "
                       "without being opened, their sizes unknown");
    const QVector<DiskResult> present = listCalculators(!updating);
    report.found(present);
    return present.isEmpty() ? kExitNoCalculator : kExitOk;
}

namespace {

QString resultsText(const QJsonObject& results)
{
    QStringList parts;
    for (auto it = results.begin(); it != results.end(); ++it) {
        const QJsonValue value = it.value();
        parts << it.key() + " " +
                     (value.isNull()       ? QString("not written")
                      : value.toInt() == 0 ? QString("ok")
                                           : QString("failed (%1)").arg(value.toInt()));
    }
    return parts.join(", ");
}

} // namespace

int runHistory(bool json)
{
    QVector<QJsonObject> records;
    int unreadable = 0;
    QString error;
    if (!readHistory(&records, &unreadable, &error)) {
        std::fprintf(stderr, "quillon-fwupdate-cli: %s\n", error.toLocal8Bit().constData());
        return kExitError;
    }
    for (const QJsonObject& record : records) {
        if (json) {
            std::printf("%s\n", QJsonDocument(record).toJson(QJsonDocument::Compact).constData());
            continue;
        }
        std::printf("%s  %s %s  %s (%d)  %s\n", qPrintable(record["time"].toString()),
                    qPrintable(record["program"].toString()),
                    qPrintable(record["version"].toString()),
                    qPrintable(record["outcome"].toString()), record["result"].toInt(),
                    qPrintable(record["folder"].toString()));
        for (const QJsonValue& row : record["calculators"].toArray()) {
            const QJsonObject calculator = row.toObject();
            std::printf("    %s: %s\n", qPrintable(calculator["serial"].toString()),
                        calculator["passedOver"].toBool()
                            ? "passed over"
                            : qPrintable(resultsText(calculator["results"].toObject())));
        }
    }
    if (unreadable > 0)
        std::fprintf(stderr,
                     "quillon-fwupdate-cli: %d line(s) of %s are no history records; they are "
                     "kept as they are\n",
                     unreadable, qPrintable(historyFilePath()));
    std::fflush(stdout);
    return kExitOk;
}
