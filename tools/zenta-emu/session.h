// A run's options and its record, and the entry that runs a scenario.
#pragma once

#include "calculator.h"
#include "scenario.h"
#include "window_log.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

struct RunOptions {
    std::string updater;      // the program under test
    std::string probeDir;     // holds generic/libzentaprobe.so
    std::string folder;       // an update folder to use instead of a sample one
    std::string sampleFolder; // make the sample folder here, and keep it
    int language = 1;
    std::string screenshots; // a picture of the window in each phase goes here
    enum class Nodes { Auto, Loop, File } nodes = Nodes::Auto;
    bool window = false; // a real window on the display instead of an offscreen one
    bool keepWorkDir = false;
    double timeout = 0; // 0: the scenario's own
    // A program (and its arguments) run in the test bed in place of the updater, with its own
    // output; the run then only sets up the scenario's disks and ends with the program. An
    // argument "{folder}" becomes the update folder's path (its Windows path under Wine).
    std::vector<std::string> run;
    // A Windows program under Wine: the updater (or `run`) is an .exe started by `wine` in this
    // prefix, and finds the disks through the stand-in SetupAPI beside it. Its window has no
    // probe: only how it ends is seen.
    std::string winePrefix;
    std::string wine = "wine64";
};

struct CalculatorRecord {
    CalculatorPlan plan;
    CalculatorState state;
    int plugs = 0;
};

struct OtherDiskRecord {
    DiskIdentity identity;
    std::uint64_t reads = 0;
    std::uint64_t writes = 0;
    bool unchanged = true;
};

// Everything a run saw, for the verdict and the report.
struct RunRecord {
    std::string skipReason; // the emulator cannot run here at all
    std::string setupError; // it could, but something went wrong on the way
    std::string nodes;      // "loop devices" or "FUSE files"
    std::string folder;
    std::vector<FileRegion> files;
    std::string command;
    std::optional<int> exitStatus;
    bool stoppedByEmulator = false;
    bool timedOut = false;
    double seconds = 0;
    std::vector<CalculatorRecord> calculators;
    std::vector<OtherDiskRecord> others;
    bool probeLoaded = false;
    std::vector<WindowLook> looks;
    std::vector<std::string> story;
    std::string updaterOutput;             // the end of what it printed
    std::vector<std::string> missingShots; // phases no picture was taken of
    // A Windows program's window under Wine, seen through the record its update left in the
    // update history: "ok", "failed" or "refused", and the result code.
    std::optional<std::pair<std::string, int>> windowHistory;
    bool secondCopy = false;             // a second copy was started
    std::optional<int> secondExitStatus; // and ended so, by itself
    double secondRan = 0;                // after this many seconds
};

// Builds the hardware, runs the updater against it, and takes it all down again.
RunRecord RunScenario(const Scenario& scenario, const RunOptions& options);

// Set from a signal handler: the run ends early and still cleans up.
void RequestStop();
