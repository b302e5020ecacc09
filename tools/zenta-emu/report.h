// The report of a run and its count of mismatches.
#pragma once

#include "scenario.h"
#include "session.h"

#include <string>

struct Report {
    std::string text;
    int mismatches = 0;
};

// The emulator's account of a run: the updater and its window, each calculator's transfers and
// commands, each other disk, and one verdict.
Report ComposeReport(const Scenario& scenario, const RunOptions& options, const RunRecord& record);
