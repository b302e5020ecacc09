// zenta-emu: emulated Zenta calculators in update mode, and the real updater run against them.

#include "report.h"
#include "scenario.h"
#include "session.h"

#include <QFile>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {

constexpr int kExitMismatch = 1;
constexpr int kExitUsage = 2;
constexpr int kExitSkipped = 77; // CTest's SKIP_RETURN_CODE

const char* kUsage = R"(usage: zenta-emu [options] SCENARIO
       zenta-emu --list
Runs the updater against emulated Zenta calculators and checks what they received.

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
  --timeout SECONDS   end the run after this long (default: the scenario's)
  --keep              keep the working folder
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
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
}

std::string OwnFolder()
{
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return ".";
    }
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

// Fills the options; gives the scenario's name, "" after --list, or nullptr on a usage error.
const char* ParseArguments(int argc, char** argv, RunOptions* options, std::string* report)
{
    const char* scenario = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--list") {
            return "";
        } else if (arg == "--window" || arg == "--keep") {
            (arg == "--window" ? options->window : options->keepWorkDir) = true;
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
        } else if (arg == "--nodes") {
            if (!ParseNodes(argv[++i], &options->nodes)) {
                return nullptr;
            }
        } else if (arg.rfind("--", 0) == 0 || scenario != nullptr) {
            return nullptr;
        } else {
            scenario = argv[i];
        }
    }
    return scenario;
}

} // namespace

int main(int argc, char** argv)
{
    RunOptions options;
    std::string reportFile;
    const char* name = ParseArguments(argc, argv, &options, &reportFile);
    if (name == nullptr) {
        std::cerr << kUsage;
        return kExitUsage;
    }
    if (*name == '\0') {
        for (const Scenario& scenario : Scenarios()) {
            std::printf("%-17s %s\n", scenario.name.c_str(), scenario.summary.c_str());
        }
        return 0;
    }
    const Scenario* scenario = FindScenario(name);
    if (scenario == nullptr) {
        std::cerr << "zenta-emu: no scenario \"" << name << "\" (see --list)\n";
        return kExitUsage;
    }
    const std::string own = OwnFolder();
    options.updater = options.updater.empty() ? own + "/quillon-fwupdate" : options.updater;
    options.probeDir = options.probeDir.empty() ? own + "/../lib/zenta-emu" : options.probeDir;
    CatchSignals();

    const RunRecord record = RunScenario(*scenario, options);
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
    if (!record.skipReason.empty()) {
        return kExitSkipped;
    }
    return report.mismatches == 0 ? 0 : kExitMismatch;
}
