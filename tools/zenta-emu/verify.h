// The checks of a run's verdict, and the summaries of transfers and commands for the report.
#pragma once

#include "scenario.h"
#include "session.h"

#include <string>
#include <vector>

// One line of the verdict: what was checked, and whether it held.
struct Check {
    std::string what;
    bool ok = true;
};

// A transfer as the report shows it, with the file it wrote.
struct TransferSummary {
    std::string line;
    int file = -1;
};

// The file a transfer wrote: the one whose offset its data began at; -1 when none.
int FileOfTransfer(const TransferRecord& transfer, const std::vector<FileRegion>& files);
std::vector<TransferSummary> SummarizeTransfers(const CalculatorState& state,
                                                const std::vector<FileRegion>& files);
// The commands in order, runs of progress commands folded into one entry.
std::string CommandStory(const std::vector<MailboxEvent>& events);

std::vector<Check> CheckCalculator(const CalculatorRecord& calculator,
                                   const std::vector<FileRegion>& files);
// Its place among the others: not one transfer before the finish command reached the calculator
// its plan names (writtenAfterFinishOf); none when the plan names none.
std::vector<Check> CheckWaveOrder(const CalculatorRecord& calculator,
                                  const std::vector<CalculatorRecord>& calculators);
std::vector<Check> CheckOtherDisk(const OtherDiskRecord& disk);
// `windowSeen`: the probe watched the window (not inside a Windows program under Wine, where
// only how it ends is judged).
std::vector<Check> CheckUpdater(const RunRecord& record, const WindowPlan& plan, int language,
                                bool windowSeen = true);
// A program run in the updater's place (--run with a scenario): it ends by itself, with 0
// where the window would end with "Done", with another code otherwise.
std::vector<Check> CheckProgram(const RunRecord& record, const WindowPlan& plan);
