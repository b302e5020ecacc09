#pragma once

#include "cli_options.h"
#include "cli_report.h"

// `station`: checks the folder's update once, then updates the calculators wave after wave as
// they are plugged in, until Ctrl-C (or --wait seconds without a new calculator). Gives the
// exit code: 0 when every calculator of every wave got every file and the finish command.
int runStation(const CliOptions& options, CliReport& report);
