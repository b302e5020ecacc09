// The built-in scenarios: the calculators, disks, folder, changes and window actions of each,
// and what each run must end with.
#include "scenario.h"

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uint64_t kKestolOffset = 0x100000;
constexpr std::uint64_t kAppOffset = 0x500000;

// Small files for the test runs, each ending inside a sector; the operating system's image runs
// across the mailbox sector, as a real one would.
const FolderSizes kSmall = {180037, 409613, kMiB + 7};
// Files of the sizes a real update has, for the demonstration and the timed run.
const FolderSizes kRealistic = {917479, 3 * kMiB + 11, 24 * kMiB + 5};

std::string Serial(int number)
{
    const std::string digits = std::to_string(number);
    return "ZT" + std::string(digits.size() < 4 ? 4 - digits.size() : 0, '0') + digits;
}

CalculatorPlan Plain(int number)
{
    CalculatorPlan plan;
    plan.serial = Serial(number);
    return plan;
}

WindowPlan Done()
{
    WindowPlan window;
    window.finalText = "Done";
    window.neverStartingWith = {"Update failed"};
    return window;
}

Scenario Basic(const std::string& name, const std::string& summary, int calculators)
{
    Scenario scenario;
    scenario.name = name;
    scenario.summary = summary;
    for (int i = 1; i <= calculators; ++i)
        scenario.calculators.push_back(Plain(i));
    scenario.sizes = kSmall;
    scenario.window = Done();
    return scenario;
}

// The update ends with `text` in a window that stays open, and never says "Done".
void EndsFailed(WindowPlan& window, const std::string& text)
{
    window.exits = false;
    window.finalText = text;
    window.neverStartingWith = {"Done"};
}

std::string Retry(int count)
{
    return "Update failed (112), Retry: " + std::to_string(count);
}

Scenario Seventeen()
{
    Scenario scenario = Basic("seventeen",
                              "17 calculators: the first 16 by path are updated, the "
                              "17th is left alone",
                              17);
    scenario.calculators.back().untouched = true;
    scenario.timeout = 150;
    return scenario;
}

Scenario LatePlug()
{
    Scenario scenario = Basic("late-plug", "the calculator is plugged in 4 s after the start", 1);
    scenario.calculators[0].plugAt = 4;
    scenario.window.seen = {"Waiting for connection..."};
    return scenario;
}

Scenario RefusedProgress()
{
    Scenario scenario = Basic("refused-progress",
                              "one of two calculators refuses every progress "
                              "command; the data goes on all the same",
                              2);
    scenario.calculators[0].behaviour.refuseProgress = true;
    scenario.calculators[0].repeats = 6;
    return scenario;
}

Scenario FlakyWrites()
{
    Scenario scenario = Basic("flaky-writes",
                              "writes fail 3 times (retried unseen), then 10 "
                              "times (one failed attempt), then succeed",
                              1);
    CalculatorPlan& calculator = scenario.calculators[0];
    calculator.behaviour.writeFaults = {{kKestolOffset + 200000, 3}, {kAppOffset + 500000, 10}};
    calculator.files["ZENTA_APP.DAT"] = {2, true};
    scenario.window.seen = {Retry(1)};
    scenario.window.neverStartingWith = {Retry(2)};
    return scenario;
}

Scenario WriteFails()
{
    Scenario scenario = Basic(
        "write-fails", "a write fails for good: five retries, then \"Update failed (112)\"", 1);
    CalculatorPlan& calculator = scenario.calculators[0];
    calculator.behaviour.writeFaults = {{kKestolOffset + 200000, -1}};
    calculator.files["ZENTA_KESTOL.DAT"] = {6, false};
    // The other files come before or after it, in the order the folder lists them.
    calculator.files["ZENTA_OS.ROM"] = {-1, true};
    calculator.files["ZENTA_APP.DAT"] = {-1, true};
    EndsFailed(scenario.window, "Update failed (112)");
    scenario.window.seen = {Retry(1), Retry(2), Retry(3), Retry(4), Retry(5)};
    return scenario;
}

Scenario Unplug()
{
    Scenario scenario = Basic("unplug",
                              "pulled out in the middle of a file, plugged in again "
                              "on another port 2 s later",
                              1);
    CalculatorPlan& calculator = scenario.calculators[0];
    calculator.behaviour.pullAtOffset = kKestolOffset + kSmall.kestol / 2;
    calculator.replugAfter = 2;
    calculator.files["ZENTA_KESTOL.DAT"] = {2, true};
    scenario.window.seen = {Retry(1)};
    scenario.window.neverStartingWith = {Retry(2)};
    return scenario;
}

Scenario OtherDisks()
{
    Scenario scenario = Basic("other-disks",
                              "a USB stick of another vendor and a SATA disk "
                              "with the calculator's inquiry strings stay "
                              "untouched",
                              1);
    scenario.others = {{true, "SanDisk ", "Cruzer Blade    ", "1.00", "4C530001230101100431"},
                       {false, "KZ      ", "Zenta update    ", "1.00", ""}};
    return scenario;
}

Scenario TwoAndStick()
{
    Scenario scenario = Basic("two-and-stick",
                              "two calculators beside a USB stick of another vendor, which stays "
                              "untouched",
                              2);
    scenario.others = {{true, "SanDisk ", "Cruzer Blade    ", "1.00", "4C530001230101100431"}};
    return scenario;
}

Scenario Usb2()
{
    Scenario scenario = Basic("usb2",
                              "two calculators at 30 MB/s each, with files of real "
                              "sizes",
                              2);
    scenario.sizes = kRealistic;
    scenario.bandwidth = 30 * 1000 * 1000;
    return scenario;
}

Scenario Demo()
{
    Scenario scenario = Basic("demo",
                              "one calculator plugged in 3 s after the start, at "
                              "30 MB/s, with files of real sizes",
                              1);
    scenario.calculators[0].plugAt = 3;
    scenario.sizes = kRealistic;
    scenario.bandwidth = 30 * 1000 * 1000;
    scenario.window.seen = {"Waiting for connection..."};
    return scenario;
}

// The updater must refuse the set before its first byte: no data reaches the calculator, and
// the window says why and stays open.
Scenario Refused(const std::string& name, const std::string& summary)
{
    Scenario scenario = Basic(name, summary, 1);
    scenario.calculators[0].unwritten = true;
    scenario.window.exits = false;
    scenario.window.finalText.clear();
    scenario.window.finalPattern = "No updates are available|Update failed \\(\\d+\\)";
    scenario.window.neverStartingWith = {"Done"};
    scenario.timeout = 45;
    return scenario;
}

Scenario Ambiguous()
{
    Scenario scenario = Refused("ambiguous", "ZENTA_OS.ROM, zenta_os.rom and ZENTA_KESTOL.DAT: two "
                                             "operating systems and no applications image");
    scenario.folder = {{"ZENTA_OS.ROM", kSmall.os},
                       {"zenta_os.rom", kSmall.os + 1},
                       {"ZENTA_KESTOL.DAT", kSmall.kestol}};
    return scenario;
}

Scenario LargeOs()
{
    Scenario scenario = Refused("os-2mib", "an operating-system image of 2 MiB, which would "
                                           "run over the KESTOL data at 1 MiB");
    scenario.sizes.os = 2 * kMiB;
    return scenario;
}

Scenario AppPastEnd()
{
    Scenario scenario = Refused("app-past-end", "an applications image (sparse) that runs past "
                                                "the end of the calculator's disk");
    scenario.folder = {{"ZENTA_OS.ROM", kSmall.os},
                       {"ZENTA_KESTOL.DAT", kSmall.kestol},
                       {"ZENTA_APP.DAT", 64 * kMiB, true}};
    return scenario;
}

Scenario Fifo()
{
    Scenario scenario =
        Refused("fifo", "ZENTA_KESTOL.DAT is a symbolic link to a FIFO that nobody writes");
    scenario.folder = {{"ZENTA_OS.ROM", kSmall.os},
                       {"ZENTA_KESTOL.DAT", 0, false, true},
                       {"ZENTA_APP.DAT", kSmall.app}};
    return scenario;
}

Scenario ThirdUnreadable()
{
    Scenario scenario =
        Refused("third-unreadable", "the third file in listing order becomes a folder after the "
                                    "scan, while the countdown runs");
    scenario.changes = {{SourceChange::ReplaceByFolder, "", 0}};
    return scenario;
}

// A source file that changes while it is sent must never end as a success.
Scenario SourceChanged(const std::string& name, const std::string& summary, SourceChange::Kind kind)
{
    Scenario scenario = Basic(name, summary, 1);
    scenario.changes = {{kind, "ZENTA_KESTOL.DAT", kKestolOffset + 200000}};
    CalculatorPlan& calculator = scenario.calculators[0];
    calculator.files["ZENTA_KESTOL.DAT"] = {kNeverCompletes, false};
    calculator.files["ZENTA_OS.ROM"] = {-1, true};
    calculator.files["ZENTA_APP.DAT"] = {-1, true};
    calculator.earlyFailures = true;
    EndsFailed(scenario.window, "Update failed (109)");
    scenario.timeout = 60;
    return scenario;
}

Scenario Mounted()
{
    Scenario scenario = Basic("mounted", "the file system on the calculator's disk is mounted", 1);
    scenario.calculators[0].mounted = true;
    scenario.calculators[0].unwritten = true;
    EndsFailed(scenario.window, "Update failed (107)");
    scenario.timeout = 60;
    return scenario;
}

Scenario Lookalike()
{
    Scenario scenario = Basic("lookalike",
                              "beside the calculator a USB disk \"KZ Zenta updater v9\", whose "
                              "product only begins like the calculator's, and one \"kz ZENTA "
                              "UPDATE\", whose strings only fold into the calculator's",
                              1);
    scenario.others = {{true, "KZ      ", "Zenta updater v9", "1.00", "ZT9999"},
                       {true, "kz      ", "ZENTA UPDATE    ", "1.00", "ZT9998"}};
    return scenario;
}

Scenario Escape()
{
    Scenario scenario =
        Basic("escape", "Escape pressed while a file is sent: the update goes on to the end", 1);
    scenario.actions = {{"key Escape", true, 0}};
    scenario.bandwidth = 3 * 1000 * 1000; // long enough for the key to land in the transfer
    return scenario;
}

Scenario CancelEarly()
{
    Scenario scenario = Basic("cancel-early",
                              "\"Cancel\" pressed just after the calculator is found, before "
                              "the countdown shows",
                              1);
    // Found at the worker's next poll (within 0.5 s); the countdown shows 1 s after that.
    scenario.calculators[0].plugAt = 2;
    scenario.calculators[0].unwritten = true;
    scenario.actions = {{"click Cancel", false, 0.65}};
    scenario.window.finalText = "Update aborted";
    scenario.window.mayStayOpen = true;
    scenario.window.neverStartingWith = {"Done"};
    scenario.timeout = 45;
    return scenario;
}

Scenario SecondCopy()
{
    Scenario scenario = Basic("second-copy",
                              "a second copy is started (with a TMPDIR of its own) while the "
                              "first waits for the calculator",
                              1);
    scenario.calculators[0].plugAt = 2;
    scenario.secondCopyAt = 0.5;
    return scenario;
}

CalculatorPlan PlugFromEvent(int number, PlugFrom::Kind kind, int of, double after)
{
    CalculatorPlan plan = Plain(number);
    plan.plugFrom = {kind, Serial(of)};
    plan.plugAt = after;
    return plan;
}

// For the command line's station, which ends by itself once no calculator has come for a while.
Scenario Station(const std::string& name, const std::string& summary)
{
    Scenario scenario;
    scenario.name = name;
    scenario.summary = summary;
    scenario.sizes = kSmall;
    scenario.window = Done();
    scenario.needsProgram = true;
    scenario.timeout = 180;
    return scenario;
}

// Three waves: three calculators at 0..2 s; three more plugged in while the first wave is
// written and right after it (one of them broken); two a few seconds after the second wave.
// The first calculator comes back in update mode 3 s after it left: it was written once and
// must not be written again.
Scenario StationWaves()
{
    Scenario scenario =
        Station("station-waves", "the command line's station: three waves of 3, 3 and 2 "
                                 "calculators plugged in at staggered times, one broken (every "
                                 "write into its applications image fails), one back in update "
                                 "mode 3 s after it was updated");
    for (int i = 1; i <= 3; ++i) {
        CalculatorPlan plan = Plain(i);
        plan.plugAt = i - 1;
        scenario.calculators.push_back(plan);
    }
    scenario.calculators[0].backAfterFinish = true;
    scenario.calculators[0].replugAfter = 3;
    scenario.calculators.push_back(PlugFromEvent(4, PlugFrom::DataOf, 1, 0.2));
    scenario.calculators.push_back(PlugFromEvent(5, PlugFrom::DataOf, 1, 0.5));
    scenario.calculators.push_back(PlugFromEvent(6, PlugFrom::FinishOf, 1, 1));
    CalculatorPlan& broken = scenario.calculators.back();
    broken.behaviour.writeFaults = {{kAppOffset + 0x10000, -1}};
    broken.files["ZENTA_APP.DAT"] = {6, false}; // the first attempt and five retries
    // A file the folder lists before it is written to it once; one after it is not, as a wave
    // writes a later file only to the calculators that hold the earlier ones.
    broken.files["ZENTA_OS.ROM"] = {-1, true};
    broken.files["ZENTA_KESTOL.DAT"] = {-1, true};
    scenario.calculators.push_back(PlugFromEvent(7, PlugFrom::FinishOf, 4, 2));
    scenario.calculators.push_back(PlugFromEvent(8, PlugFrom::FinishOf, 4, 3));
    for (int i = 3; i < 6; ++i)
        scenario.calculators[i].writtenAfterFinishOf = Serial(1);
    for (int i = 6; i < 8; ++i)
        scenario.calculators[i].writtenAfterFinishOf = Serial(4);
    // The broken calculator's code.
    EndsFailed(scenario.window, "Update failed (112)");
    return scenario;
}

Scenario StationTwo()
{
    Scenario scenario = Station("station-two", "the command line's station: two waves of one "
                                               "calculator, the second plugged in 1 s after "
                                               "the first wave's finish command");
    scenario.calculators = {Plain(1), PlugFromEvent(2, PlugFrom::FinishOf, 1, 1)};
    scenario.calculators[1].writtenAfterFinishOf = Serial(1);
    return scenario;
}

} // namespace

const std::vector<Scenario>& Scenarios()
{
    static const std::vector<Scenario> all = {
        Basic("one", "one calculator", 1),
        Basic("two", "two calculators written at the same time", 2),
        Seventeen(),
        LatePlug(),
        RefusedProgress(),
        FlakyWrites(),
        WriteFails(),
        Unplug(),
        OtherDisks(),
        TwoAndStick(),
        Usb2(),
        Demo(),
        Ambiguous(),
        LargeOs(),
        AppPastEnd(),
        Fifo(),
        ThirdUnreadable(),
        SourceChanged("source-truncated", "ZENTA_KESTOL.DAT cut to half its size while it is sent",
                      SourceChange::Truncate),
        SourceChanged("source-rewritten",
                      "ZENTA_KESTOL.DAT rewritten in place, same size, while it is sent",
                      SourceChange::Rewrite),
        Mounted(),
        Lookalike(),
        Escape(),
        CancelEarly(),
        SecondCopy(),
        StationWaves(),
        StationTwo(),
    };
    return all;
}

const Scenario* FindScenario(const std::string& name)
{
    for (const Scenario& scenario : Scenarios()) {
        if (scenario.name == name)
            return &scenario;
    }
    return nullptr;
}

Scenario SetupScenario(int calculators, int others, std::uint64_t bandwidth, bool realSizes)
{
    Scenario scenario = Basic("setup", "disks for a program of one's own", calculators);
    if (realSizes)
        scenario.sizes = kRealistic;
    for (int i = 1; i <= others; ++i) {
        const std::string serial = std::to_string(4000000000000000000ull + i);
        scenario.others.push_back({true, "SanDisk ", "Cruzer Blade    ", "1.00", serial});
    }
    scenario.bandwidth = bandwidth;
    scenario.timeout = 3600;
    return scenario;
}
