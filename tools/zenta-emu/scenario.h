// What a scenario sets up and what it expects: calculators, other disks, the update folder, the
// changes and actions during the run, and how the window ends.
#pragma once

#include "calculator.h"
#include "testbed.h"

#include <map>
#include <string>
#include <vector>

struct FolderSizes {
    std::uint64_t os = 0;     // written at 0, so it also covers the mailbox sector
    std::uint64_t kestol = 0; // written at 1 MiB
    std::uint64_t app = 0;    // written at 5 MiB
};

// Transfers of a file: any number, none of which may end as a success.
constexpr int kNeverCompletes = -2;

// What must become of one firmware file on one calculator.
struct FilePlan {
    int attempts = 1;         // transfers of it; -1: none, or one that succeeds; kNeverCompletes
    bool lastSucceeds = true; // the last of them wrote the whole file and ended with 100
};

// What a calculator's plug time counts from: the updater's start, or the moment the first data
// reached, or the finish command reached, the calculator `serial` names.
struct PlugFrom {
    enum Kind { Start, DataOf, FinishOf } kind = Start;
    std::string serial;
};

struct CalculatorPlan {
    std::string serial;
    double plugAt = 0; // seconds after `plugFrom`
    PlugFrom plugFrom;
    double replugAfter = -1; // once pulled out, back in (on another port) after this; < 0 never
    // It leaves update mode after the finish command as every calculator does, and then comes
    // back in update mode, once, replugAfter later (as one whose key is still held).
    bool backAfterFinish = false;
    CalculatorBehaviour behaviour;
    // Expected:
    std::map<std::string, FilePlan> files; // by file name; a file not named here: FilePlan{}
    bool untouched = false;                // not one transfer, no finish
    bool unwritten = false;                // no data at all; a finish command may come
    bool earlyFailures = false;            // transfers may end before their first byte of data
    int repeats = 1;                       // each progress command, sent again after a refusal
    bool mounted = false;                  // the file system on its disk is mounted
    // Not one transfer began before the finish command reached this calculator (a serial): it
    // belongs to a later wave of a station than that one.
    std::string writtenAfterFinishOf;
};

// A hub with this many ports (0: as many as there are calculators): the calculators are
// plugged in in the scenario's order, the next one into a port `swap` seconds after the
// calculator there left (after its finish command), as a teacher swapping a class set would.
struct Hub {
    int ports = 0;
    double swap = 0;
};

struct WindowPlan {
    bool exits = true;             // exits by itself (code 0); otherwise it stays open
    bool mayStayOpen = false;      // either of the two, as long as the texts are right
    std::string finalText;         // a text of the window at the end
    std::string finalPattern;      // or: a text matching this whole (a regular expression)
    std::vector<std::string> seen; // texts shown at some time
    std::vector<std::string> neverStartingWith;
};

// A firmware file changed under the updater's feet.
struct SourceChange {
    enum Kind { Truncate, Rewrite, ReplaceByFolder } kind = Truncate;
    std::string file;         // its name; "" for the third file in the folder's listing order
    std::uint64_t atByte = 0; // when a calculator stores data holding this byte of its disk;
                              // 0: when the window first shows its countdown
};

// Something a person does to the window.
struct WindowAction {
    std::string command; // for the probe: "key Escape", "click Cancel"
    bool onData = false; // once data reaches the first calculator; otherwise after its plug
    double delay = 0;    // seconds after that
};

// An entry of the update folder, for folders other than the usual three files.
struct FolderEntry {
    std::string name;
    std::uint64_t size = 0;
    bool sparse = false;   // zeros that take no room
    bool fifoLink = false; // a symbolic link to a FIFO instead of a file
};

struct Scenario {
    std::string name;
    std::string summary;
    std::vector<CalculatorPlan> calculators;
    std::vector<DiskIdentity> others; // disks that are not calculators
    FolderSizes sizes;
    std::vector<FolderEntry> folder; // instead of the three files of `sizes`
    std::vector<SourceChange> changes;
    std::vector<WindowAction> actions;
    double secondCopyAt = -1;    // a second copy of the updater, with a TMPDIR of its own
    std::uint64_t bandwidth = 0; // bytes per second per disk; 0: no limit
    Hub hub;
    // Played for a program given with --run (the command line's station), not for the window.
    bool needsProgram = false;
    WindowPlan window;
    double timeout = 90;
};

const std::vector<Scenario>& Scenarios();
const Scenario* FindScenario(const std::string& name);
// For a program of one's own run in the test bed: `calculators` calculators and `others` USB
// sticks of another vendor, all there from the start, each disk limited to `bandwidth` bytes
// per second (0: no limit); the update folder's files of a real update's sizes when
// `realSizes`, small ones otherwise.
Scenario SetupScenario(int calculators, int others, std::uint64_t bandwidth,
                       bool realSizes = false);
