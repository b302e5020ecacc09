// zenta-emu: emulated Zenta calculators in update mode, and the real updater run against them.

#include "child_process.h"
#include "report.h"
#include "scenario.h"
#include "session.h"

#include <QFile>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kExitMismatch = 1;
constexpr int kExitUsage = 2;
constexpr int kExitSkipped = 77; // CTest's SKIP_RETURN_CODE

const char* kUsage = R"(usage: zenta-emu [options] SCENARIO
       zenta-emu --list
       zenta-emu [options] [--calculators N] [--other-disks N] [--bandwidth MB/S]
                 --run PROGRAM [ARGS...]
       zenta-emu [options] SCENARIO --run PROGRAM [ARGS...]
Runs the updater against emulated Zenta calculators and checks what they received.
With --run, sets up the calculators (default 1) and other USB disks (default 0), all there from
the start, and runs PROGRAM in the test bed instead of the updater, with the environment the
updater would get and ZENTA_EMU_FOLDER (a sample update folder) and ZENTA_EMU_NODES (what each
calculator's /dev node points at, space-separated); exits with PROGRAM's exit code.
With a SCENARIO before --run, its hardware instead, and the verdict on the disks as for the
updater; PROGRAM must end by itself, with 0 where the scenario's update ends well. An argument
{folder} of PROGRAM becomes the update folder's path.

  --updater PATH      the updater (default: quillon-fwupdate beside zenta-emu)
  --probe-dir DIR     folder holding generic/libzentaprobe.so (default: ../lib/zenta-emu)
  --folder DIR        use this update folder instead of making a sample one
  --sample-folder DIR make the sample update folder there, and keep it
  --language N        language number handed to the updater (default 1, English)
  --report FILE       write the report there too
  --screenshots DIR   save a picture of the window in each phase there (waiting.png,
                      countdown.png, transfer.png, done.png)
  --nodes MODE        loop: loop devices over the disk files (needs root);
                      file: device nodes point at the files; auto (default): loop as root
  --window            a real window on the display instead of an offscreen one
  --wine PREFIX       the updater (or PROGRAM) is a Windows program, run by Wine in PREFIX
                      beside the stand-in setupapi.dll; its window is seen only as it ends
  --timeout SECONDS   end the run after this long (default: the scenario's)
  --keep              keep the working folder
  --calculators N     with --run: N calculators
  --other-disks N     with --run: N USB sticks of another vendor
  --bandwidth MB/S    with --run: each disk moves at most this many MB (10^6 bytes) a second
  --state FILE        with --run: afterwards, one line per calculator in FILE: its serial, then
                      NAME=1 for each file its disk holds whole (=0 otherwise) and finish=1
                      when it received the finish command
  --write-fault N:OFFSET  with --run: calculator N (from 1) fails every write holding that byte
  --flip-byte N:OFFSET    with --run: calculator N stores that byte with its lowest bit flipped
  --hub PORTS:SECONDS with --run: the calculators share a hub of PORTS ports; the first PORTS
                      are there from the start, and each further one is plugged in, in order,
                      SECONDS after a calculator left its port (after its finish command)
  --real-sizes        with --run: the sample update's files have a real update's sizes
Exit code: 0 all as expected, 1 a mismatch, 77 skipped (FUSE or umockdev cannot run here).
)";

void OnSignal(int)
{
    RequestStop();
}

void CatchSignals()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

std::string OwnFolder()
{
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return ".";
    std::string self(path, static_cast<std::size_t>(length));
    return self.substr(0, self.rfind('/'));
}

bool ParseNodes(const std::string& text, RunOptions::Nodes* nodes)
{
    if (text == "auto" || text == "loop" || text == "file") {
        *nodes = text == "auto"   ? RunOptions::Nodes::Auto
                 : text == "loop" ? RunOptions::Nodes::Loop
                                  : RunOptions::Nodes::File;
        return true;
    }
    return false;
}

struct Setup {
    int calculators = 1;
    int others = 0;
    double megabytesPerSecond = 0;
    // Faults of single calculators: (index from 1, byte offset).
    std::vector<std::pair<int, std::uint64_t>> writeFaults;
    std::vector<std::pair<int, std::uint64_t>> flips;
    std::string stateFile;
    Hub hub;
    bool realSizes = false;
};

// "PORTS:SECONDS", at least one port.
bool ParseHub(const std::string& text, Hub* hub)
{
    char* end = nullptr;
    const long ports = std::strtol(text.c_str(), &end, 10);
    if (ports < 1 || *end != ':')
        return false;
    const char* swap = end + 1;
    hub->swap = std::strtod(swap, &end);
    hub->ports = static_cast<int>(ports);
    return *swap != '\0' && *end == '\0' && hub->swap >= 0;
}

// What each calculator holds at the end of a run of one's own program, for its checks.
bool WriteState(const RunRecord& record, const std::string& path)
{
    std::string text;
    for (const CalculatorRecord& calculator : record.calculators) {
        text += calculator.plan.serial;
        for (std::size_t i = 0; i < record.files.size(); ++i) {
            const bool whole = i < calculator.state.finalSha256.size() &&
                               calculator.state.finalSha256[i] == record.files[i].sha256;
            text += " " + record.files[i].name + (whole ? "=1" : "=0");
        }
        text += calculator.state.finishAt ? " finish=1\n" : " finish=0\n";
    }
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::WriteOnly | QIODevice::Text) &&
           file.write(text.c_str()) == static_cast<qint64>(text.size());
}

// "N:OFFSET", N from 1.
bool ParseFault(const std::string& text, std::vector<std::pair<int, std::uint64_t>>* faults)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos)
        return false;
    char* end = nullptr;
    const long index = std::strtol(text.c_str(), &end, 10);
    const unsigned long long offset = std::strtoull(text.c_str() + colon + 1, &end, 0);
    if (index < 1 || *end != '\0')
        return false;
    faults->emplace_back(static_cast<int>(index), offset);
    return true;
}

// The faults asked for on the command line, on the calculators they name.
bool ApplyFaults(const Setup& setup, Scenario* scenario)
{
    for (const auto& fault : setup.writeFaults) {
        if (fault.first > static_cast<int>(scenario->calculators.size()))
            return false;
        scenario->calculators[fault.first - 1].behaviour.writeFaults.push_back({fault.second, -1});
    }
    for (const auto& flip : setup.flips) {
        if (flip.first > static_cast<int>(scenario->calculators.size()))
            return false;
        scenario->calculators[flip.first - 1].behaviour.flipByte = flip.second;
    }
    return true;
}

// Fills the options; gives the scenario's name, "" after --list, "setup" with --run, or nullptr
// on a usage error.
const char* ParseArguments(int argc, char** argv, RunOptions* options, std::string* report,
                           Setup* setup)
{
    const char* scenario = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--list") {
            return "";
        } else if (arg == "--run") {
            // Everything after it is the program's own.
            options->run.assign(argv + i + 1, argv + argc);
            const bool fits = !options->run.empty() && setup->calculators >= 0 &&
                              setup->calculators <= 26 * 26 && setup->others >= 0 &&
                              setup->megabytesPerSecond >= 0;
            return !fits ? nullptr : scenario != nullptr ? scenario : "setup";
        } else if (arg == "--window" || arg == "--keep") {
            (arg == "--window" ? options->window : options->keepWorkDir) = true;
        } else if (arg == "--real-sizes") {
            setup->realSizes = true;
        } else if (!hasValue && arg.rfind("--", 0) == 0) {
            return nullptr;
        } else if (arg == "--updater" || arg == "--probe-dir" || arg == "--folder" ||
                   arg == "--sample-folder" || arg == "--report" || arg == "--screenshots") {
            std::string& target = arg == "--updater"         ? options->updater
                                  : arg == "--probe-dir"     ? options->probeDir
                                  : arg == "--folder"        ? options->folder
                                  : arg == "--sample-folder" ? options->sampleFolder
                                  : arg == "--report"        ? *report
                                                             : options->screenshots;
            target = argv[++i];
        } else if (arg == "--language") {
            options->language = std::atoi(argv[++i]);
        } else if (arg == "--timeout") {
            options->timeout = std::atof(argv[++i]);
        } else if (arg == "--calculators" || arg == "--other-disks") {
            (arg == "--calculators" ? setup->calculators : setup->others) = std::atoi(argv[++i]);
        } else if (arg == "--bandwidth") {
            setup->megabytesPerSecond = std::atof(argv[++i]);
        } else if (arg == "--state") {
            setup->stateFile = argv[++i];
        } else if (arg == "--write-fault" || arg == "--flip-byte") {
            if (!ParseFault(argv[++i], arg == "--flip-byte" ? &setup->flips : &setup->writeFaults))
                return nullptr;
        } else if (arg == "--hub") {
            if (!ParseHub(argv[++i], &setup->hub))
                return nullptr;
        } else if (arg == "--wine") {
            options->winePrefix = argv[++i];
        } else if (arg == "--nodes") {
            if (!ParseNodes(argv[++i], &options->nodes))
                return nullptr;
        } else if (arg.rfind("--", 0) == 0 || scenario != nullptr) {
            return nullptr;
        } else {
            scenario = argv[i];
        }
    }
    return scenario;
}

// Wine's loader: the first wine64 or wine on the PATH, else where Debian keeps it.
std::string WineProgram()
{
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "";
    for (const char* name : {"wine64", "wine"}) {
        std::size_t start = 0;
        while (start <= folders.size()) {
            const std::size_t end = std::min(folders.find(':', start), folders.size());
            const std::string candidate = folders.substr(start, end - start) + "/" + name;
            if (end > start && access(candidate.c_str(), X_OK) == 0)
                return candidate;
            start = end + 1;
        }
    }
    return "/usr/lib/wine/wine64";
}

// With --run: the program's exit code, or the emulator's own when it could not run it.
int RunOutcome(const RunRecord& record)
{
    if (!record.skipReason.empty()) {
        std::cerr << "zenta-emu: skipped: " << record.skipReason << "\n";
        return kExitSkipped;
    }
    if (!record.setupError.empty() || record.timedOut || !record.exitStatus) {
        std::cerr << "zenta-emu: "
                  << (record.timedOut             ? "timed out"
                      : record.setupError.empty() ? "the program did not end"
                                                  : record.setupError)
                  << "\n";
        return kExitMismatch;
    }
    const int status = *record.exitStatus;
    if (!WIFEXITED(status)) {
        std::cerr << "zenta-emu: " << record.command << ": " << ChildProcess::Describe(status)
                  << "\n";
        return kExitMismatch;
    }
    return WEXITSTATUS(status);
}

} // namespace

int main(int argc, char** argv)
{
    RunOptions options;
    std::string reportFile;
    Setup setup;
    const char* name = ParseArguments(argc, argv, &options, &reportFile, &setup);
    if (name == nullptr) {
        std::cerr << kUsage;
        return kExitUsage;
    }
    if (*name == '\0') {
        for (const Scenario& scenario : Scenarios())
            std::printf("%-17s %s\n", scenario.name.c_str(), scenario.summary.c_str());
        return 0;
    }
    Scenario own =
        SetupScenario(setup.calculators, setup.others,
                      static_cast<std::uint64_t>(setup.megabytesPerSecond * 1e6), setup.realSizes);
    own.hub = setup.hub;
    if (!ApplyFaults(setup, &own)) {
        std::cerr << kUsage;
        return kExitUsage;
    }
    // With --run, the hardware of a scenario named before it, or of the options.
    const bool ownSetup = !options.run.empty() && std::strcmp(name, "setup") == 0;
    const Scenario* scenario = ownSetup ? &own : FindScenario(name);
    if (scenario == nullptr) {
        std::cerr << "zenta-emu: no scenario \"" << name << "\" (see --list)\n";
        return kExitUsage;
    }
    if (scenario->needsProgram && options.run.empty()) {
        std::cerr << "zenta-emu: the scenario \"" << name
                  << "\" is played for a program given with --run, not for the window\n";
        return kExitUsage;
    }
    const std::string folder = OwnFolder();
    options.updater = options.updater.empty() ? folder + "/quillon-fwupdate" : options.updater;
    options.probeDir = options.probeDir.empty() ? folder + "/../lib/zenta-emu" : options.probeDir;
    if (!options.winePrefix.empty())
        options.wine = WineProgram();
    CatchSignals();

    const RunRecord record = RunScenario(*scenario, options);
    if (ownSetup) {
        if (!setup.stateFile.empty() && record.skipReason.empty() &&
            !WriteState(record, setup.stateFile)) {
            std::cerr << "zenta-emu: cannot write " << setup.stateFile << "\n";
            return kExitMismatch;
        }
        return RunOutcome(record);
    }
    const Report report = ComposeReport(*scenario, options, record);
    std::cout << report.text << std::flush;
    if (!reportFile.empty()) {
        QFile file(QString::fromStdString(reportFile));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Text) ||
            file.write(report.text.c_str()) < 0) {
            std::cerr << "zenta-emu: cannot write " << reportFile << "\n";
            return kExitMismatch;
        }
    }
    if (!record.skipReason.empty())
        return kExitSkipped;
    return report.mismatches == 0 ? 0 : kExitMismatch;
}
