// The run's report: the update folder, the updater and its window, each calculator and other
// disk with its checks, and the verdict.
#include "report.h"

#include "child_process.h"
#include "verify.h"

#include <cstdio>
#include <sstream>

namespace {

void AddChecks(const std::vector<Check>& checks, std::ostringstream& out, int* mismatches)
{
    for (const Check& check : checks) {
        out << "    " << (check.ok ? "ok        " : "MISMATCH  ") << check.what << "\n";
        *mismatches += check.ok ? 0 : 1;
    }
}

std::string Duration(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

void UpdaterSection(const Scenario& scenario, const RunOptions& options, const RunRecord& record,
                    std::ostringstream& out, int* mismatches)
{
    out << "Updater: " << record.command << "\n";
    out << "  ran " << Duration(record.seconds) << ", "
        << (record.exitStatus ? ChildProcess::Describe(*record.exitStatus) : "not ended")
        << (record.stoppedByEmulator ? " (closed by the emulator)" : "") << "\n";
    std::vector<Check> checks;
    if (!options.run.empty()) {
        checks = CheckProgram(record, scenario.window);
    } else if (!options.winePrefix.empty()) {
        out << "  window: not watched (no probe inside a Windows program); judged by its end\n";
        checks = CheckUpdater(record, scenario.window, options.language, false);
    } else {
        out << "  window:\n";
        for (const std::string& line : record.story)
            out << "    " << line << "\n";
        checks = CheckUpdater(record, scenario.window, options.language);
    }
    for (const std::string& phase : record.missingShots)
        checks.push_back({"no picture of the window in the phase \"" + phase + "\"", false});
    if (!options.screenshots.empty() && record.missingShots.empty())
        checks.push_back({"pictures of each phase saved in " + options.screenshots, true});
    AddChecks(checks, out, mismatches);
}

void FilesSection(const RunRecord& record, std::ostringstream& out)
{
    out << "Update folder: " << record.folder << "\n";
    for (const FileRegion& file : record.files) {
        char line[200];
        std::snprintf(line, sizeof line, "  %-17s %10llu B at 0x%06llx  sha256 %s\n",
                      file.name.c_str(), static_cast<unsigned long long>(file.size),
                      static_cast<unsigned long long>(file.offset),
                      file.sha256.toHex().constData());
        out << line;
    }
}

void CalculatorSection(const CalculatorRecord& calculator, const RunRecord& record,
                       std::ostringstream& out, int* mismatches)
{
    const CalculatorState& state = calculator.state;
    out << "Calculator " << calculator.plan.serial << " ("
        << (calculator.plan.untouched   ? "to be left alone"
            : calculator.plan.unwritten ? "to get no data"
                                        : "to be updated")
        << ", plugged in " << calculator.plugs << " time" << (calculator.plugs == 1 ? "" : "s")
        << ")\n";
    for (const TransferSummary& transfer : SummarizeTransfers(state, record.files))
        out << "  transfer " << transfer.line << "\n";
    out << "  commands: " << CommandStory(state.events) << "\n";
    if (state.finishAt) {
        out << "  finish command at " << Duration(*state.finishAt)
            << "; it left update mode and its disk went away\n";
    }
    AddChecks(CheckCalculator(calculator, record.files), out, mismatches);
    AddChecks(CheckWaveOrder(calculator, record.calculators), out, mismatches);
}

} // namespace

Report ComposeReport(const Scenario& scenario, const RunOptions& options, const RunRecord& record)
{
    std::ostringstream out;
    Report report;
    out << "zenta-emu: scenario \"" << scenario.name << "\": " << scenario.summary << "\n";
    if (!record.skipReason.empty()) {
        out << "SKIPPED: " << record.skipReason << "\n";
        report.text = out.str();
        return report;
    }
    if (!record.nodes.empty())
        out << "Disks: " << record.nodes << "; language " << options.language << "\n";
    if (!record.setupError.empty()) {
        out << "SETUP FAILED: " << record.setupError << "\n";
        ++report.mismatches;
    }
    if (!record.files.empty())
        FilesSection(record, out);
    if (!record.command.empty())
        UpdaterSection(scenario, options, record, out, &report.mismatches);
    for (const CalculatorRecord& calculator : record.calculators)
        CalculatorSection(calculator, record, out, &report.mismatches);
    for (const OtherDiskRecord& disk : record.others) {
        out << "Other disk \"" << disk.identity.vendor << disk.identity.model << "\" on "
            << (disk.identity.usb ? "USB" : "SATA") << " (not a calculator)\n";
        AddChecks(CheckOtherDisk(disk), out, &report.mismatches);
    }
    if (report.mismatches > 0 && !record.updaterOutput.empty())
        out << "Updater output (last lines):\n" << record.updaterOutput << "\n";
    out << (report.mismatches == 0 ? "PASS" : "FAIL") << ": " << report.mismatches << " mismatch"
        << (report.mismatches == 1 ? "" : "es") << "\n";
    report.text = out.str();
    return report;
}
