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
std::vector<Check> CheckOtherDisk(const OtherDiskRecord& disk);
std::vector<Check> CheckUpdater(const RunRecord& record, const WindowPlan& plan, int language);
