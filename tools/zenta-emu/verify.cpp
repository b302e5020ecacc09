// The verdict on a run: what each calculator, other disk and the updater's window must show,
// and the transfers and commands in the report's words.
#include "verify.h"

#include <QRegularExpression>
#include <QString>

#include <cstdio>
#include <sys/wait.h>

namespace {

constexpr double kSecondCopyLimit = 5; // seconds: start-up and nothing else

std::string Hex(std::uint64_t value)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string ShortHash(const QByteArray& hash)
{
    return hash.toHex().left(16).toStdString();
}

// Problems of a progress sequence; "" when it is as the host sends it.
std::string ProgressProblem(const TransferRecord& transfer, int repeats)
{
    const std::vector<ProgressStep>& steps = transfer.progress;
    if (steps.empty() || steps.front().percent != 0)
        return "does not begin with progress 0";
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (i > 0 && steps[i].percent <= steps[i - 1].percent)
            return "progress goes back from " + std::to_string(steps[i - 1].percent);
        if (steps[i].percent == 100 && i + 1 != steps.size())
            return "progress goes on after 100";
        if (steps[i].times != repeats) {
            return "progress " + std::to_string(steps[i].percent) + " came " +
                   std::to_string(steps[i].times) + " times, not " + std::to_string(repeats);
        }
    }
    return "";
}

bool WroteFile(const TransferRecord& transfer, const FileRegion& file)
{
    return transfer.completed && transfer.sha256 == file.sha256 && transfer.coveredWhole &&
           !transfer.strayBytes;
}

// The texts of the window as it last showed itself: a window that went away keeps its last look.
QStringList LastShown(const std::vector<WindowLook>& looks)
{
    for (auto look = looks.rbegin(); look != looks.rend(); ++look) {
        if (!look->title.isEmpty() || !look->labels.isEmpty())
            return look->labels;
    }
    return {};
}

// The outcome and result code an update that ends as the plan says leaves in the history; an
// empty outcome when the plan does not tell.
std::pair<std::string, int> HistoryOfEnd(const WindowPlan& plan)
{
    if (plan.finalText == "Done")
        return {"ok", 0};
    static const QRegularExpression failed("^Update failed \\((\\d+)\\)$");
    const QRegularExpressionMatch match = failed.match(QString::fromStdString(plan.finalText));
    if (match.hasMatch())
        return {"failed", match.captured(1).toInt()};
    return {"", 0};
}

int FinishCommands(const CalculatorState& state)
{
    int count = 0;
    for (const MailboxEvent& event : state.events)
        count += event.kind == MailboxEvent::Command && event.code == kCmdFinish ? 1 : 0;
    return count;
}

void CheckFile(const CalculatorRecord& calculator, const std::vector<FileRegion>& files, int index,
               std::vector<Check>* checks)
{
    const FileRegion& file = files[index];
    const CalculatorState& state = calculator.state;
    auto found = calculator.plan.files.find(file.name);
    const FilePlan plan = found != calculator.plan.files.end() ? found->second : FilePlan{};
    std::vector<const TransferRecord*> attempts;
    for (const TransferRecord& transfer : state.transfers) {
        if (FileOfTransfer(transfer, files) == index)
            attempts.push_back(&transfer);
    }
    const int count = static_cast<int>(attempts.size());
    if (plan.attempts == kNeverCompletes) {
        int completed = 0;
        for (const TransferRecord* attempt : attempts)
            completed += attempt->completed ? 1 : 0;
        checks->push_back({file.name + ": " + std::to_string(count) + " transfer(s), " +
                               std::to_string(completed) + " ended as a success, expected none",
                           completed == 0});
        return;
    }
    const bool countOk = plan.attempts < 0 ? count <= 1 : count == plan.attempts;
    const std::string expected = plan.attempts < 0 ? "0 or 1" : std::to_string(plan.attempts);
    checks->push_back(
        {file.name + ": " + std::to_string(count) + " transfer(s), expected " + expected, countOk});
    for (int i = 0; i + 1 < count; ++i) {
        if (attempts[i]->completed)
            checks->push_back({file.name + ": an attempt ended well but was repeated", false});
    }
    if (count == 0) {
        // Never sent: its stretch of the disk is as it was.
        const auto changed = FirstWithin(state.changed, file.offset, file.offset + file.size);
        if (changed) {
            checks->push_back(
                {file.name + ": never sent, yet its stretch changed at " + Hex(*changed), false});
        }
        return;
    }
    const bool wrote = WroteFile(*attempts.back(), file);
    const bool wanted = plan.attempts < 0 || plan.lastSucceeds;
    checks->push_back({file.name + (wrote ? ": the last transfer wrote it whole, SHA-256 equal"
                                          : ": the last transfer did not write it whole"),
                       wrote == wanted});
    if (wanted) {
        // What counts is the disk at the end: a later file may have written over this one.
        const bool kept = static_cast<std::size_t>(index) < state.finalSha256.size() &&
                          state.finalSha256[index] == file.sha256;
        checks->push_back({file.name + (kept ? ": on the disk at the end, byte for byte"
                                             : ": the disk at the end does not hold it"),
                           kept});
    }
}

} // namespace

int FileOfTransfer(const TransferRecord& transfer, const std::vector<FileRegion>& files)
{
    for (std::size_t i = 0; i < files.size() && !transfer.written.Empty(); ++i) {
        if (files[i].offset == transfer.written.Lowest())
            return static_cast<int>(i);
    }
    return -1;
}

std::vector<TransferSummary> SummarizeTransfers(const CalculatorState& state,
                                                const std::vector<FileRegion>& files)
{
    std::vector<TransferSummary> summaries;
    for (const TransferRecord& transfer : state.transfers) {
        TransferSummary summary;
        summary.file = FileOfTransfer(transfer, files);
        char head[160];
        std::snprintf(head, sizeof head, "%7.2f s  %-17s ", transfer.startedAt,
                      summary.file >= 0 ? files[summary.file].name.c_str() : "(no data)");
        std::string line = head;
        if (summary.file >= 0) {
            const FileRegion& file = files[summary.file];
            line += "@" + Hex(file.offset) + " " + std::to_string(file.size) + " B  ";
            line += transfer.completed
                        ? "sha256 " + ShortHash(transfer.sha256) +
                              (WroteFile(transfer, file) ? " = source" : " != source")
                        : "unfinished (" + std::to_string(transfer.written.Bytes()) + " B written)";
        }
        const int steps = static_cast<int>(transfer.progress.size());
        line += "  progress " + std::to_string(transfer.progress.front().percent) + ".." +
                std::to_string(transfer.progress.back().percent) + " in " + std::to_string(steps) +
                " steps";
        if (transfer.failedWrites > 0)
            line += ", " + std::to_string(transfer.failedWrites) + " failed writes";
        const double seconds = transfer.endedAt - transfer.startedAt;
        char time[64];
        std::snprintf(time, sizeof time, ", %.2f s", seconds);
        line += time;
        if (transfer.completed && seconds > 0) {
            std::snprintf(time, sizeof time, " (%.1f MB/s)",
                          static_cast<double>(transfer.written.Bytes()) / seconds / 1e6);
            line += time;
        }
        summary.line = line;
        summaries.push_back(summary);
    }
    return summaries;
}

std::string CommandStory(const std::vector<MailboxEvent>& events)
{
    std::string story;
    std::size_t i = 0;
    while (i < events.size()) {
        const MailboxEvent& event = events[i];
        std::string entry;
        if (event.kind == MailboxEvent::AreaRead) {
            entry = "read " + std::to_string(event.parameter / 512) + " sectors";
            ++i;
        } else if (event.code == kCmdProgress) {
            // A run of progress commands that only goes up (or repeats after a refusal).
            std::size_t end = i + 1;
            while (end < events.size() && events[end].kind == MailboxEvent::Command &&
                   events[end].code == kCmdProgress &&
                   events[end].parameter >= events[end - 1].parameter)
                ++end;
            entry = "progress " + std::to_string(event.parameter);
            if (end - i > 1) {
                entry += ".." + std::to_string(events[end - 1].parameter) + " (" +
                         std::to_string(end - i) + " commands)";
            }
            entry += event.accepted ? "" : " refused";
            i = end;
        } else {
            entry = event.code == kCmdFinish ? "finish" : "command " + Hex(event.code);
            ++i;
        }
        story += (story.empty() ? "" : ", ") + entry;
    }
    return story.empty() ? "none" : story;
}

std::vector<Check> CheckCalculator(const CalculatorRecord& calculator,
                                   const std::vector<FileRegion>& files)
{
    const CalculatorState& state = calculator.state;
    const CalculatorPlan& plan = calculator.plan;
    std::vector<Check> checks;
    if (plan.untouched || plan.unwritten) {
        int withData = 0;
        for (const TransferRecord& transfer : state.transfers)
            withData += transfer.written.Empty() ? 0 : 1;
        const int finishes = FinishCommands(state);
        if (plan.untouched) {
            checks.push_back({"left alone: " + std::to_string(state.transfers.size()) +
                                  " transfers, " + std::to_string(finishes) + " finish commands",
                              state.transfers.empty() && finishes == 0});
        } else {
            checks.push_back({"no data sent: " + std::to_string(withData) +
                                  " transfers with data, " + std::to_string(finishes) +
                                  " finish commands (at most 1)",
                              withData == 0 && finishes <= 1});
        }
        const auto changed = FirstWithin(state.changed, 0, UINT64_MAX);
        checks.push_back({changed ? "a byte of the disk changed, at " + Hex(*changed)
                                  : "not one byte of the disk changed",
                          !changed});
    } else {
        for (std::size_t i = 0; i < files.size(); ++i)
            CheckFile(calculator, files, static_cast<int>(i), &checks);
        for (std::size_t i = 0; i < state.transfers.size(); ++i) {
            const TransferRecord& transfer = state.transfers[i];
            const std::string problem = ProgressProblem(transfer, plan.repeats);
            const bool early = plan.earlyFailures && !transfer.completed;
            if (!problem.empty() || (FileOfTransfer(transfer, files) < 0 && !early)) {
                checks.push_back({"transfer " + std::to_string(i + 1) + ": " +
                                      (problem.empty() ? "wrote no file's first byte" : problem),
                                  false});
            }
        }
        const int finishes = FinishCommands(state);
        const bool last = state.finishAt && (state.transfers.empty() ||
                                             *state.finishAt >= state.transfers.back().endedAt);
        checks.push_back({"finish command: " + std::to_string(finishes) + ", expected 1, after " +
                              "the last transfer",
                          finishes == 1 && last});
        checks.push_back({state.changedOutsideFiles ? "a byte outside the files changed, at " +
                                                          Hex(*state.changedOutsideFiles)
                                                    : "not one byte outside the files changed",
                          !state.changedOutsideFiles});
    }
    checks.push_back({"data written outside a transfer: " + std::to_string(state.strayWrites),
                      state.strayWrites == 0});
    checks.push_back(
        {"data written after the finish command: " + std::to_string(state.writesAfterFinish),
         state.writesAfterFinish == 0});
    return checks;
}

std::vector<Check> CheckWaveOrder(const CalculatorRecord& calculator,
                                  const std::vector<CalculatorRecord>& calculators)
{
    const std::string& earlier = calculator.plan.writtenAfterFinishOf;
    if (earlier.empty())
        return {};
    std::optional<double> finish;
    for (const CalculatorRecord& other : calculators) {
        if (other.plan.serial == earlier)
            finish = other.state.finishAt;
    }
    if (!finish)
        return {{"written after the finish command to " + earlier + ", which got none", false}};
    const std::vector<TransferRecord>& transfers = calculator.state.transfers;
    const bool after = transfers.empty() || transfers.front().startedAt > *finish;
    char line[160];
    if (transfers.empty()) {
        std::snprintf(line, sizeof line, "no transfer, none before the finish command to %s",
                      earlier.c_str());
    } else {
        std::snprintf(
            line, sizeof line, "first transfer at %.2f s, %s the finish command to %s (%.2f s)",
            transfers.front().startedAt, after ? "after" : "before", earlier.c_str(), *finish);
    }
    return {{line, after}};
}

std::vector<Check> CheckOtherDisk(const OtherDiskRecord& disk)
{
    return {{std::to_string(disk.writes) + " writes, " +
                 (disk.unchanged ? "not one byte changed" : "its contents changed"),
             disk.writes == 0 && disk.unchanged}};
}

std::vector<Check> CheckProgram(const RunRecord& record, const WindowPlan& plan)
{
    const int status = record.exitStatus.value_or(-1);
    const bool ended = record.exitStatus && WIFEXITED(status) && !record.timedOut;
    const int code = ended ? WEXITSTATUS(status) : -1;
    if (plan.exits && !plan.mayStayOpen)
        return {{"ended by itself with exit code 0", ended && code == 0}};
    // The command line's exit code is the result code the window shows.
    const int expected = HistoryOfEnd(plan).second;
    if (expected > 0) {
        return {{"ended by itself with exit code " + std::to_string(expected) + " (" +
                     std::to_string(code) + ")",
                 ended && code == expected}};
    }
    return {{"ended by itself with a failure code", ended && code > 0}};
}

std::vector<Check> CheckUpdater(const RunRecord& record, const WindowPlan& plan, int language,
                                bool windowSeen)
{
    std::vector<Check> checks;
    const int status = record.exitStatus.value_or(-1);
    const bool exitedWell = record.exitStatus && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (plan.exits && plan.mayStayOpen) {
        checks.push_back({"ended by itself with exit code 0, or stayed open until the emulator "
                          "closed it",
                          (exitedWell || record.stoppedByEmulator) && !record.timedOut});
    } else if (plan.exits) {
        checks.push_back({"ended by itself with exit code 0",
                          exitedWell && !record.stoppedByEmulator && !record.timedOut});
    } else {
        checks.push_back({"stayed open with its final message until the emulator closed it",
                          record.stoppedByEmulator && !record.timedOut});
    }
    checks.push_back({record.timedOut ? "timed out" : "within the time limit", !record.timedOut});
    if (!windowSeen) {
        const std::pair<std::string, int> expected = HistoryOfEnd(plan);
        if (!expected.first.empty()) {
            const auto& seen = record.windowHistory;
            checks.push_back({"its update history records \"" + expected.first + "\" (" +
                                  std::to_string(expected.second) + ")" +
                                  (seen ? ", it holds \"" + seen->first + "\" (" +
                                              std::to_string(seen->second) + ")"
                                        : ", it holds no record of it"),
                              seen && *seen == expected});
        }
        return checks;
    }
    checks.push_back({record.probeLoaded ? "window probe loaded" : "window probe not loaded",
                      record.probeLoaded});
    // Texts with an id are shown in the chosen language; only English ones are known here.
    const auto translated = [](const std::string& text) {
        return text == "Done" || text.rfind("Waiting", 0) == 0;
    };
    const auto seen = [&record](const std::string& prefix) {
        for (const WindowLook& look : record.looks) {
            for (const QString& label : look.labels) {
                if (label.startsWith(QString::fromStdString(prefix)))
                    return true;
            }
        }
        return false;
    };
    if (!plan.finalText.empty() && (language == 1 || !translated(plan.finalText))) {
        const bool shown = LastShown(record.looks).contains(QString::fromStdString(plan.finalText));
        checks.push_back({"ends showing \"" + plan.finalText + "\"", shown});
    }
    if (!plan.finalPattern.empty() && language == 1) {
        const QRegularExpression pattern(
            QRegularExpression::anchoredPattern(QString::fromStdString(plan.finalPattern)));
        bool shown = false;
        for (const QString& label : LastShown(record.looks))
            shown = shown || pattern.match(label).hasMatch();
        checks.push_back({"ends showing a text matching \"" + plan.finalPattern + "\"", shown});
    }
    if (record.secondCopy) {
        const int second = record.secondExitStatus.value_or(-1);
        const bool quick = record.secondExitStatus && WIFEXITED(second) &&
                           WEXITSTATUS(second) == 0 && record.secondRan < kSecondCopyLimit;
        checks.push_back({"a second copy ended at once with exit code 0", quick});
    }
    for (const std::string& text : plan.seen) {
        if (language == 1 || !translated(text))
            checks.push_back({"showed \"" + text + "\"", seen(text)});
    }
    for (const std::string& text : plan.neverStartingWith)
        checks.push_back({"never showed \"" + text + "...\"", !seen(text)});
    return checks;
}
