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
    for (int i = 1; i <= calculators; ++i) {
        scenario.calculators.push_back(Plain(i));
    }
    scenario.sizes = kSmall;
    scenario.window = Done();
    return scenario;
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
    scenario.window.exits = false;
    scenario.window.finalText = "Update failed (112)";
    scenario.window.seen = {Retry(1), Retry(2), Retry(3), Retry(4), Retry(5)};
    scenario.window.neverStartingWith = {"Done"};
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
        Usb2(),
        Demo(),
    };
    return all;
}

const Scenario* FindScenario(const std::string& name)
{
    for (const Scenario& scenario : Scenarios()) {
        if (scenario.name == name) {
            return &scenario;
        }
    }
    return nullptr;
}

Scenario SetupScenario(int calculators, int others, std::uint64_t bandwidth)
{
    Scenario scenario = Basic("setup", "disks for a program of one's own", calculators);
    for (int i = 1; i <= others; ++i) {
        const std::string serial = std::to_string(4000000000000000000ull + i);
        scenario.others.push_back({true, "SanDisk ", "Cruzer Blade    ", "1.00", serial});
    }
    scenario.bandwidth = bandwidth;
    scenario.timeout = 3600;
    return scenario;
}
