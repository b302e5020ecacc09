// The command-line update: the same policy as the window's, one step after the other on the
// main thread, with Ctrl-C looked at between steps.
#include "cli_update.h"

#include "cli_run.h"
#include "interrupt.h"
#include "settings/settings.h"
#include "settings/single_instance.h"
#include "update/engine_text.h"
#include "update/update_policy.h"
#include "update/update_run.h"
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

// The transfer threads' callbacks reach the report through these.
CliReport* g_report = nullptr;
std::atomic<bool> g_interruptShown{false};

void onProgress(int percent)
{
    g_report->progress(CurrentTransferDisk(), CurrentTransferDiskPath(), percent);
    noticeInterrupt(true);
}

void onMessage(const WChar*) {}

} // namespace

void setCliReport(CliReport* report)
{
    g_report = report;
}

void noticeInterrupt(bool transferring)
{
    if (interruptCount() > 0 && !g_interruptShown.exchange(true))
        g_report->interrupting(transferring);
}

bool pauseUnlessInterrupted(int milliseconds)
{
    for (int slept = 0; slept < milliseconds; slept += kStepMs) {
        if (interruptCount() > 0)
            return false;
        HostSleep(std::min(kStepMs, milliseconds - slept));
    }
    return interruptCount() == 0;
}

namespace {

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

int transferOnce(CliRun& cli, int index)
{
    QVector<DiskResult> disks;
    const int result = cli.run.attempt(index, onProgress, onMessage, &disks,
                                       [&] { cli.report.verifying(cli.record().files[index]); });
    cli.report.fileDone(cli.record().files[index], result, disks.data(), disks.size());
    return result;
}

// The file's code after its last attempt, or kExitInterrupted when Ctrl-C ended the retries;
// `step` says what follows it.
int writeFile(CliRun& cli, int index, UpdateStep* step)
{
    for (int attempt = 1;; ++attempt) {
        cli.report.fileStarted(index, cli.record().files[index], attempt);
        const int result = transferOnce(cli, index);
        noticeInterrupt(false);
        *step = cli.run.stepAfter(index, attempt, result);
        if (*step != UpdateStep::Retry)
            return result;
        if (interruptCount() > 0)
            return kExitInterrupted;
        cli.report.retry(cli.record().files[index], attempt, result);
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

bool anyPassedOver(const HistoryRecord& record)
{
    for (const HistoryCalculator& calculator : record.calculators) {
        if (calculator.passedOver)
            return true;
    }
    return false;
}

} // namespace

int writeUpdate(CliRun& cli, const QVector<SourceDigest>* sameAs)
{
    HistoryRecord& record = cli.record();
    // Ctrl-C stops the check too: a large file may take a while to read whole.
    const UpdateSetCheck check = cli.run.check(&interruptRequested(), sameAs);
    if (check.result == kResultStopped) {
        noticeInterrupt(false);
        record.outcome = "interrupted";
        return kExitInterrupted;
    }
    if (check.result != kResultOk) {
        cli.report.failed(check.reason, check.result);
        record.outcome = "refused";
        return check.result;
    }
    for (int i = 0; i < cli.files.size(); ++i) {
        // Between files (the first one included: Ctrl-C may come while the set is checked) the
        // update stops at once; a file under way is never cut, and none is begun after it,
        // whether it ended written or failed.
        const bool stopNow = interruptCount() > 0;
        if (stopNow)
            noticeInterrupt(false);
        UpdateStep step = UpdateStep::GiveUp;
        const int result = stopNow ? kExitInterrupted : writeFile(cli, i, &step);
        if (result == kExitInterrupted || (interruptCount() > 0 && i + 1 < cli.files.size())) {
            record.outcome = "interrupted";
            return kExitInterrupted;
        }
        if (step == UpdateStep::GiveUp) {
            cli.report.failed(QString("%1 could not be written").arg(cli.files[i]->fileName),
                              result);
            record.outcome = "failed";
            return result;
        }
    }
    const int failure = firstFailure(record);
    record.outcome = failure != kResultOk ? "failed" : anyPassedOver(record) ? "partial" : "ok";
    return failure != kResultOk ? failure : anyPassedOver(record) ? kExitPassedOver : kExitOk;
}

int endUpdate(CliRun& cli, int code, bool sendFinish)
{
    HistoryRecord& record = cli.record();
    // Whatever the outcome: the calculators leave update mode only on this command, and each
    // one's row tells whether it got it. One left in update mode has not been updated as it
    // should.
    const int finish = sendFinish ? cli.run.finish() : kResultOk;
    if (code == kExitOk && finish != kResultOk) {
        code = finish;
        record.outcome = "failed";
    }
    record.result = code;
    QString error;
    if (!appendHistory(record, &error))
        cli.report.warning("the update history was not written: " + error);
    cli.report.finished(record, code);
    return code;
}

namespace {

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

int updateWithCalculators(CliRun& cli)
{
    HistoryRecord& record = cli.record();
    cli.report.found(cli.run.listCalculators(kCliListCapacity));
    int code = kExitInterrupted;
    record.outcome = "interrupted";
    if (cli.options.yes || countDown(cli.report))
        code = writeUpdate(cli);
    else
        noticeInterrupt(false);
    return endUpdate(cli, code);
}

} // namespace

QString cliFolder(const CliOptions& options)
{
    if (!options.folder.isEmpty())
        return options.folder;
    registerFilePrefixes(); // the folder's name is a text of the stored language
    const StoredSettings stored = loadSettings();
    CTextStore texts;
    texts.setLanguage(stored.language);
    return defaultUpdateFolder(stored.workFolder, texts);
}

int prepareUpdate(const QString& folder, CliReport& report, SingleInstance& guard,
                  QList<CUpdateFile*>* files)
{
    const QFileInfoList listing = listUpdateFolder(folder);
    const bool newGeneration = isNewGenerationListing(listing);
    *files = updateFilesOf(listing, newGeneration);
    const QString problem = updateFolderProblem(folder, *files, newGeneration);
    if (!problem.isEmpty()) {
        report.failed(problem, kExitNoUpdate);
        return kExitNoUpdate;
    }
    // The window and every other update from the command line hold the same guard for as long
    // as they may write: two writers must never reach one calculator.
    if (!guard.take()) {
        report.failed("another copy of the updater (its window or an update from the command "
                      "line) is running; it may be writing the calculators",
                      kExitBusy);
        return kExitBusy;
    }
    return kExitOk;
}

CliRun::CliRun(const CliOptions& how, CliReport& to, const QList<CUpdateFile*>& set,
               const QString& folder)
    : options(how), report(to), files(set),
      // Unlike the window, a class set is not held back by one broken calculator; --verify
      // reads every file back.
      run(UpdateRunOptions{"quillon-fwupdate-cli", true, how.verify}, updateSetOf(set),
          QFileInfo(folder).absoluteFilePath())
{
    for (int i = 0; i < set.size(); ++i)
        record().files[i].size = set[i]->size;
}

int runUpdate(const CliOptions& options, CliReport& report)
{
    setCliReport(&report);
    const QString folder = cliFolder(options);
    QList<CUpdateFile*> files;
    SingleInstance guard;
    int code = prepareUpdate(folder, report, guard, &files);
    if (code == kExitOk) {
        code = waitForCalculator(options.waitSeconds, report);
        if (code == kExitNoCalculator)
            report.failed("no calculator in update mode was found", code);
        else if (code == kExitInterrupted)
            noticeInterrupt(false);
    }
    if (code == kExitOk) {
        CliRun cli(options, report, files, folder);
        code = updateWithCalculators(cli);
    }
    qDeleteAll(files);
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
    const QVector<DiskResult> present = presentCalculators(kCliListCapacity, !updating);
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
        const QString wave =
            record.contains("wave") ? QString(" wave %1").arg(record["wave"].toInt()) : QString();
        std::printf("%s  %s %s%s  %s (%d)  %s\n", qPrintable(record["time"].toString()),
                    qPrintable(record["program"].toString()),
                    qPrintable(record["version"].toString()), qPrintable(wave),
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
