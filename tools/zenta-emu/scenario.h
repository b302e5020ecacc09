#pragma once

#include "calculator.h"
#include "testbed.h"
#include "update_folder.h"

#include <map>
#include <string>
#include <vector>

// What must become of one firmware file on one calculator.
struct FilePlan {
    int attempts = 1;         // transfers of it; -1: none, or one that succeeds
    bool lastSucceeds = true; // the last of them wrote the whole file and ended with 100
};

struct CalculatorPlan {
    std::string serial;
    double plugAt = 0;       // seconds after the updater starts
    double replugAfter = -1; // once pulled out, back in (on another port) after this; < 0 never
    CalculatorBehaviour behaviour;
    // Expected:
    std::map<std::string, FilePlan> files; // by file name; a file not named here: FilePlan{}
    bool untouched = false;                // not one transfer, no finish
    int repeats = 1;                       // each progress command, sent again after a refusal
};

struct WindowPlan {
    bool exits = true;             // exits by itself (code 0); otherwise it stays open
    std::string finalText;         // a text of the window at the end
    std::vector<std::string> seen; // texts shown at some time
    std::vector<std::string> neverStartingWith;
};

struct Scenario {
    std::string name;
    std::string summary;
    std::vector<CalculatorPlan> calculators;
    std::vector<DiskIdentity> others; // disks that are not calculators
    FolderSizes sizes;
    std::uint64_t bandwidth = 0; // bytes per second per disk; 0: no limit
    WindowPlan window;
    double timeout = 90;
};

const std::vector<Scenario>& Scenarios();
const Scenario* FindScenario(const std::string& name);
// For a program of one's own run in the test bed: `calculators` calculators and `others` USB
// sticks of another vendor, all there from the start, each disk limited to `bandwidth` bytes
// per second (0: no limit).
Scenario SetupScenario(int calculators, int others, std::uint64_t bandwidth);
