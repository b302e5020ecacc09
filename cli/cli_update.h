#pragma once

#include "cli_options.h"
#include "cli_report.h"

// The whole update from the command line, as the window does it: the folder's files, a
// calculator within --wait, the countdown, the check of the set, each file to every calculator
// with its retries, and the finish command at the end whatever the outcome. Gives the exit code.
int runUpdate(const CliOptions& options, CliReport& report);

// `list`: every calculator present now. Gives kExitOk, or kExitNoCalculator when none is.
int runList(CliReport& report);

// `history`: the records so far. Gives kExitOk, or kExitError when the history cannot be read.
int runHistory(bool json);
