// One run of a scenario: its working folder and rig, the updater started in the test bed, the
// plugging, changes and actions the scenario asks for, and what it all recorded.
#include "session.h"

#include "child_process.h"
#include "phase_shots.h"
#include "rig.h"
#include "update_folder.h"
#include "wine_devices.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <sched.h>
#include <thread>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

using Clock = std::chrono::steady_clock;

constexpr double kLeaveDelay = 0.3; // the calculator restarts this long after the finish command
constexpr double kFinalTextHold = 1.5;
constexpr std::uint64_t kDiskSize = 64ull << 20; // plenty for the three images

double Since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string SkipReason(const RunOptions& options)
{
    if (access(ZENTA_UMOCKDEV_PRELOAD, R_OK) != 0)
        return "umockdev's preload library is missing (" ZENTA_UMOCKDEV_PRELOAD ")";
    if (access("/dev/fuse", R_OK | W_OK) != 0)
        return "FUSE cannot run here: /dev/fuse is missing or not open to this user";
    if (options.nodes == RunOptions::Nodes::Loop && geteuid() != 0)
        return "loop devices need root";
    return "";
}

// A small ext2 file system, as a calculator disk that was once formatted would hold.
bool MakeFileSystem(const std::string& path, QByteArray* bytes)
{
    const QString file = QString::fromStdString(path);
    if (QProcess::execute("mke2fs", {"-q", "-F", "-t", "ext2", file, "8M"}) != 0)
        return false;
    QFile image(file);
    if (!image.open(QIODevice::ReadOnly))
        return false;
    *bytes = image.readAll();
    return !bytes->isEmpty();
}

class Session {
public:
    Session(const Scenario& scenario, const RunOptions& options)
        : scenario_(scenario), options_(options)
    {
    }
    RunRecord Run();

private:
    bool Prepare();
    void BuildRig();
    bool StartUpdater();
    void Watch();
    std::optional<double> PlugBase(std::size_t i) const;
    bool TakePort(double now);
    void FreePort(double at);
    bool PlugAndPull(double now);
    bool Step();
    void ChangeSources();
    void Act(double now);
    void RunSecondCopy(double now);
    bool ShowsFinal() const;
    // A Windows program's window, seen through its update history rather than a probe.
    bool WatchesWineWindow() const { return !options_.winePrefix.empty() && options_.run.empty(); }
    std::string WineListFile() const { return work_ + "/wine-interfaces.txt"; }
    std::map<std::string, qint64> WineHistories() const;
    void ReadWineHistory();
    void Collect();
    std::vector<std::string> Environment() const;
    std::vector<std::string> WineEnvironment() const;

    const Scenario& scenario_;
    const RunOptions& options_;
    RunRecord record_;
    std::string work_;
    std::unique_ptr<Rig> rig_;
    std::vector<int> calculators_; // rig numbers, in the scenario's order
    std::vector<double> replugAt_;
    std::vector<int> leftAfter_; // finish commands each calculator left update mode for
    std::vector<std::optional<double>> firstDataOf_; // when the first data reached each
    std::vector<std::optional<double>> finishOf_;    // when the first finish command did
    std::vector<double> portFreeAt_; // the hub's ports, each free from then on; -1 taken
    std::vector<int> others_;
    ChildProcess updater_;
    std::unique_ptr<WindowLog> window_;
    Clock::time_point started_;
    std::optional<double> finalTextSince_;
    std::map<std::string, qint64> wineHistorySizes_; // each user's history file before the run
    std::vector<std::unique_ptr<std::atomic<bool>>> changed_; // by scenario_.changes
    std::mutex changeMutex_;
    std::string changeError_;
    std::optional<double> firstPlugAt_;
    std::optional<double> firstDataAt_;
    std::vector<bool> acted_; // by scenario_.actions
    std::vector<std::string> actedLines_;
    ChildProcess second_;
    double secondStartedAt_ = 0;
};

bool Session::Prepare()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = (tmp != nullptr && *tmp != '\0' ? std::string(tmp) : "/tmp");
    templ += "/zenta-emu-XXXXXX";
    std::vector<char> path(templ.begin(), templ.end());
    path.push_back('\0');
    if (mkdtemp(path.data()) == nullptr) {
        record_.setupError = "cannot make a working folder from " + templ;
        return false;
    }
    work_ = path.data();
    const std::string& program = options_.run.empty() ? options_.updater : options_.run[0];
    if (access(program.c_str(), X_OK) != 0) {
        record_.setupError =
            (options_.run.empty() ? "no updater to run at " : "no program to run at ") + program;
        return false;
    }
    for (const char* sub : {"mnt", "home", "tmp", "runtime"})
        QDir(QString::fromStdString(work_)).mkpath(sub);
    QFile::setPermissions(QString::fromStdString(work_ + "/runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    record_.folder = !options_.folder.empty()         ? options_.folder
                     : !options_.sampleFolder.empty() ? options_.sampleFolder
                                                      : work_ + "/update";
    if (!options_.folder.empty()) {
        record_.files = ReadUpdateFolder(record_.folder, &record_.setupError);
    } else if (!scenario_.folder.empty()) {
        record_.files = MakeFolderEntries(record_.folder, scenario_.folder, &record_.setupError);
    } else {
        record_.files =
            MakeUpdateFolder(record_.folder, Generation::New, scenario_.sizes, &record_.setupError);
    }
    for (std::size_t i = 0; i < scenario_.changes.size(); ++i)
        changed_.push_back(std::make_unique<std::atomic<bool>>(false));
    acted_.assign(scenario_.actions.size(), false);
    return !record_.files.empty();
}

// A Windows program's environment: the prefix, the stand-in SetupAPI chosen over Wine's own
// and the list it reads; the window on the display, as on Windows.
std::vector<std::string> Session::WineEnvironment() const
{
    std::vector<std::string> env = CurrentEnvironment();
    env.erase(std::remove_if(
                  env.begin(), env.end(),
                  [](const std::string& entry) { return entry.rfind("QT_QPA_PLATFORM=", 0) == 0; }),
              env.end());
    SetVariable(&env, "WINEPREFIX", options_.winePrefix);
    SetVariable(&env, "WINEDLLOVERRIDES", "setupapi=n,b;mscoree,mshtml=");
    if (GetVariable(env, "WINEDEBUG").empty())
        SetVariable(&env, "WINEDEBUG", "-all");
    SetVariable(&env, "ZENTA_WINE_INTERFACES", WindowsPath(WineListFile()));
    SetVariable(&env, "ZENTA_EMU_FOLDER", record_.folder);
    return env;
}

std::vector<std::string> Session::Environment() const
{
    if (!options_.winePrefix.empty())
        return WineEnvironment();
    std::vector<std::string> env = CurrentEnvironment();
    const std::string preload = GetVariable(env, "LD_PRELOAD");
    SetVariable(&env, "LD_PRELOAD",
                ZENTA_UMOCKDEV_PRELOAD + (preload.empty() ? "" : ":" + preload));
    SetVariable(&env, "UMOCKDEV_DIR", rig_->TestbedDir());
    // The preloaded library comes before a sanitizer's runtime.
    const std::string asan = GetVariable(env, "ASAN_OPTIONS");
    SetVariable(&env, "ASAN_OPTIONS",
                (asan.empty() ? "" : asan + ":") + "verify_asan_link_order=0");
    // A home, settings and temporary folder of its own: its single-instance guard lives there.
    const std::string home = GetVariable(env, "HOME");
    if (GetVariable(env, "XAUTHORITY").empty() && !home.empty())
        SetVariable(&env, "XAUTHORITY", home + "/.Xauthority");
    SetVariable(&env, "HOME", work_ + "/home");
    SetVariable(&env, "XDG_CONFIG_HOME", work_ + "/home/.config");
    SetVariable(&env, "XDG_RUNTIME_DIR", work_ + "/runtime");
    SetVariable(&env, "TMPDIR", work_ + "/tmp");
    if (!options_.window)
        SetVariable(&env, "QT_QPA_PLATFORM", "offscreen");
    const std::string plugins = GetVariable(env, "QT_PLUGIN_PATH");
    SetVariable(&env, "QT_PLUGIN_PATH", options_.probeDir + (plugins.empty() ? "" : ":" + plugins));
    SetVariable(&env, "QT_QPA_GENERIC_PLUGINS", "zentaprobe");
    SetVariable(&env, "ZENTA_PROBE_LOG", work_ + "/window.log");
    SetVariable(&env, "ZENTA_PROBE_SHOTS", options_.screenshots.empty() ? "" : work_ + "/shots");
    SetVariable(&env, "ZENTA_PROBE_COMMANDS", work_ + "/probe-commands");
    // For a program of one's own: the update folder, and what each calculator's node points at
    // (in the scenario's order), so that it can reach the same disks without the test bed.
    SetVariable(&env, "ZENTA_EMU_FOLDER", record_.folder);
    std::string nodes;
    for (int disk : calculators_)
        nodes += (nodes.empty() ? "" : " ") + rig_->NodeTarget(disk);
    SetVariable(&env, "ZENTA_EMU_NODES", nodes);
    return env;
}

bool Session::StartUpdater()
{
    const bool wine = !options_.winePrefix.empty();
    if (!options_.run.empty()) {
        std::vector<std::string> argv = options_.run;
        const std::string folder = wine ? WindowsPath(record_.folder) : record_.folder;
        for (std::string& arg : argv)
            arg = arg == "{folder}" ? folder : arg;
        if (wine)
            argv.insert(argv.begin(), options_.wine);
        record_.command = options_.run[0];
        started_ = Clock::now();
        return updater_.Start(argv, Environment(), "", &record_.setupError);
    }
    if (wine) {
        wineHistorySizes_ = WineHistories();
        const std::vector<std::string> argv = {options_.wine, options_.updater,
                                               WindowsPath(record_.folder),
                                               std::to_string(options_.language)};
        record_.command = "wine " + options_.updater + " \"" + argv[2] + "\" " + argv[3];
        started_ = Clock::now();
        return updater_.Start(argv, Environment(), work_ + "/updater.log", &record_.setupError);
    }
    const std::vector<std::string> argv = {options_.updater, record_.folder,
                                           std::to_string(options_.language)};
    record_.command = options_.updater + " \"" + record_.folder + "\" " + argv[2];
    if (!options_.screenshots.empty())
        QDir().mkpath(QString::fromStdString(work_ + "/shots"));
    window_ = std::make_unique<WindowLog>(work_ + "/window.log");
    started_ = Clock::now();
    return updater_.Start(argv, Environment(), work_ + "/updater.log", &record_.setupError);
}

// When the plan's plug time counts from for calculator `i`; none while that has not happened.
std::optional<double> Session::PlugBase(std::size_t i) const
{
    const PlugFrom& from = scenario_.calculators[i].plugFrom;
    if (from.kind == PlugFrom::Start)
        return 0.0;
    for (std::size_t j = 0; j < calculators_.size(); ++j) {
        if (scenario_.calculators[j].serial == from.serial)
            return from.kind == PlugFrom::DataOf ? firstDataOf_[j] : finishOf_[j];
    }
    return std::nullopt;
}

// With a hub, a calculator waits for a free port: the first one free by now, taken.
bool Session::TakePort(double now)
{
    if (scenario_.hub.ports <= 0)
        return true;
    for (double& freeAt : portFreeAt_) {
        if (freeAt >= 0 && now >= freeAt) {
            freeAt = -1;
            return true;
        }
    }
    return false;
}

void Session::FreePort(double at)
{
    const auto taken = std::find(portFreeAt_.begin(), portFreeAt_.end(), -1.0);
    if (taken != portFreeAt_.end())
        *taken = at;
}

// Calculators plugged in, pulled out, and gone after the finish command, as the plan has it.
bool Session::PlugAndPull(double now)
{
    for (std::size_t i = 0; i < calculators_.size(); ++i) {
        const int disk = calculators_[i];
        Calculator* calculator = rig_->CalculatorAt(disk);
        if (!firstDataOf_[i] && calculator->DataWrites() > 0)
            firstDataOf_[i] = now;
        if (!finishOf_[i] && calculator->Finishes() > 0)
            finishOf_[i] = now;
    }
    // In the scenario's order: with a hub, the next calculator takes the next free port.
    bool waitsForPort = false;
    for (std::size_t i = 0; i < calculators_.size(); ++i) {
        const int disk = calculators_[i];
        const CalculatorPlan& plan = scenario_.calculators[i];
        Calculator* calculator = rig_->CalculatorAt(disk);
        const std::optional<double> base = PlugBase(i);
        const bool first = rig_->Plugs(disk) == 0 && base && now >= *base + plan.plugAt &&
                           !waitsForPort && TakePort(now);
        waitsForPort =
            scenario_.hub.ports > 0 && (waitsForPort || (rig_->Plugs(disk) == 0 && !first));
        const bool due = first || (replugAt_[i] >= 0 && now >= replugAt_[i]);
        if (due && !rig_->Plugged(disk)) {
            replugAt_[i] = -1;
            if (!rig_->Plug(disk, &record_.setupError))
                return false;
            if (i == 0 && !firstPlugAt_)
                firstPlugAt_ = now;
        }
        if (calculator->TakePulled()) {
            rig_->Unplug(disk);
            replugAt_[i] = plan.replugAfter >= 0 ? now + plan.replugAfter : -1;
        }
        // It has left update mode and restarts: its disk goes away, to come back only when the
        // plan says so. Each finish command it takes sends it away once.
        if (rig_->Plugged(disk) && calculator->Finishes() > leftAfter_[i] &&
            calculator->FinishedFor(kLeaveDelay)) {
            rig_->Unplug(disk);
            leftAfter_[i] = calculator->Finishes();
            if (plan.backAfterFinish && leftAfter_[i] == 1)
                replugAt_[i] = now + plan.replugAfter;
            else
                FreePort(now + scenario_.hub.swap);
        }
    }
    return true;
}

// One look at the world. False when the run is over.
bool Session::Step()
{
    const double now = Since(started_);
    if (!PlugAndPull(now))
        return false;
    // A program of one's own has no window to watch: it ends the run when it ends.
    if (window_)
        window_->Update();
    ChangeSources();
    Act(now);
    RunSecondCopy(now);
    {
        std::lock_guard<std::mutex> lock(changeMutex_);
        if (!changeError_.empty()) {
            record_.setupError = changeError_;
            return false;
        }
    }
    if (updater_.Poll())
        return false;
    const bool closable = !scenario_.window.exits || scenario_.window.mayStayOpen;
    bool shown = false;
    if (WatchesWineWindow()) {
        // Under Wine the window's end is what its update history records.
        ReadWineHistory();
        shown = record_.windowHistory.has_value();
    } else {
        shown = window_ && ShowsFinal();
    }
    if (closable && shown) {
        finalTextSince_ = finalTextSince_ ? finalTextSince_ : now;
        if (now - *finalTextSince_ >= kFinalTextHold) {
            record_.stoppedByEmulator = true;
            return false;
        }
    } else {
        finalTextSince_.reset();
    }
    const double timeout = options_.timeout > 0 ? options_.timeout : scenario_.timeout;
    if (now > timeout) {
        record_.timedOut = true;
        return false;
    }
    return g_stopRequested == 0;
}

bool Session::ShowsFinal() const
{
    const WindowPlan& plan = scenario_.window;
    if (plan.finalPattern.empty())
        return window_->ShowsNow(QString::fromStdString(plan.finalText));
    const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QString::fromStdString(plan.finalPattern)));
    const std::vector<WindowLook>& looks = window_->Looks();
    if (looks.empty())
        return false;
    for (const QString& label : looks.back().labels) {
        if (pattern.match(label).hasMatch())
            return true;
    }
    return false;
}

// Every history file of the prefix's users (%LOCALAPPDATA%\Quillon\history.jsonl), with its
// size: records are only appended, so a file that grew holds a new one. Looked at on every
// step: a look at the sizes, no read.
std::map<std::string, qint64> Session::WineHistories() const
{
    std::map<std::string, qint64> files;
    const QDir users(QString::fromStdString(options_.winePrefix + "/drive_c/users"));
    for (const QString& user : users.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QFileInfo file(users.filePath(user + "/AppData/Local/Quillon/history.jsonl"));
        if (file.isFile())
            files[file.filePath().toStdString()] = file.size();
    }
    return files;
}

// The record the window's update added to the history, once there is one.
void Session::ReadWineHistory()
{
    if (record_.windowHistory)
        return;
    for (const auto& entry : WineHistories()) {
        const auto before = wineHistorySizes_.find(entry.first);
        if (entry.second <= (before == wineHistorySizes_.end() ? 0 : before->second))
            continue;
        QFile file(QString::fromStdString(entry.first));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
        const QJsonObject last = QJsonDocument::fromJson(lines.last()).object();
        if (last.contains("outcome"))
            record_.windowHistory = {last.value("outcome").toString().toStdString(),
                                     last.value("result").toInt(-1)};
    }
}

// The changes due when the window first shows its countdown ("Start - 5").
void Session::ChangeSources()
{
    bool pending = false;
    for (std::size_t i = 0; i < scenario_.changes.size(); ++i)
        pending = pending || (scenario_.changes[i].atByte == 0 && !*changed_[i]);
    if (!pending || !window_ || window_->Looks().empty())
        return;
    static const QRegularExpression countdown(" - \\d+$");
    if (window_->Looks().back().buttons.filter(countdown).isEmpty())
        return;
    for (std::size_t i = 0; i < scenario_.changes.size(); ++i) {
        const SourceChange& change = scenario_.changes[i];
        if (change.atByte == 0 && !changed_[i]->exchange(true)) {
            std::string error;
            if (!ChangeSource(record_.folder, change, &error)) {
                std::lock_guard<std::mutex> lock(changeMutex_);
                changeError_ = error;
            }
        }
    }
}

// What a person does to the window, handed to the probe inside the updater.
void Session::Act(double now)
{
    if (!firstDataAt_ && !calculators_.empty() &&
        rig_->CalculatorAt(calculators_[0])->DataWrites() > 0)
        firstDataAt_ = now;
    for (std::size_t i = 0; i < scenario_.actions.size(); ++i) {
        const WindowAction& action = scenario_.actions[i];
        const std::optional<double>& base = action.onData ? firstDataAt_ : firstPlugAt_;
        if (acted_[i] || !base || now < *base + action.delay)
            continue;
        acted_[i] = true;
        QFile commands(QString::fromStdString(work_ + "/probe-commands"));
        if (!commands.open(QIODevice::WriteOnly | QIODevice::Append) ||
            commands.write(QByteArray::fromStdString(action.command + "\n")) < 0)
            record_.setupError = "cannot hand the probe \"" + action.command + "\"";
        char line[200];
        std::snprintf(line, sizeof line, "%6.1f s  (the emulator: \"%s\")", now,
                      action.command.c_str());
        actedLines_.push_back(line);
    }
}

// A second copy of the updater beside the first, as a second start by the user would be; its
// own temporary folder, so that nothing kept there tells it of the first.
void Session::RunSecondCopy(double now)
{
    if (scenario_.secondCopyAt < 0 || now < scenario_.secondCopyAt)
        return;
    if (!record_.secondCopy) {
        record_.secondCopy = true;
        QDir(QString::fromStdString(work_)).mkpath("tmp2");
        std::vector<std::string> env = Environment();
        SetVariable(&env, "TMPDIR", work_ + "/tmp2");
        SetVariable(&env, "ZENTA_PROBE_LOG", work_ + "/window2.log");
        SetVariable(&env, "ZENTA_PROBE_COMMANDS", "");
        secondStartedAt_ = now;
        if (!second_.Start({options_.updater, record_.folder, std::to_string(options_.language)},
                           env, work_ + "/updater2.log", &record_.setupError))
            return;
    }
    if (!record_.secondExitStatus) {
        record_.secondExitStatus = second_.Poll();
        record_.secondRan = now - secondStartedAt_;
    }
}

void Session::Watch()
{
    while (Step())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (WatchesWineWindow())
        ReadWineHistory(); // written just before a window that ends by itself goes
    if (g_stopRequested != 0 && record_.setupError.empty())
        record_.setupError = "interrupted";
    updater_.Stop();
    record_.exitStatus = updater_.Poll();
    record_.seconds = Since(started_);
    // A second copy still running when the first is gone did not end by itself.
    second_.Stop();
    if (window_)
        window_->Update();
}

void Session::Collect()
{
    for (std::size_t i = 0; i < calculators_.size(); ++i) {
        const int disk = calculators_[i];
        record_.calculators.push_back(
            {scenario_.calculators[i], rig_->CalculatorAt(disk)->State(), rig_->Plugs(disk)});
    }
    for (std::size_t i = 0; i < others_.size(); ++i) {
        const PlainDisk* disk = rig_->OtherAt(others_[i]);
        record_.others.push_back(
            {scenario_.others[i], disk->Reads(), disk->Writes(), disk->Unchanged()});
    }
    if (!window_)
        return; // a program of one's own: no window, no log of it
    record_.probeLoaded = window_->ProbeLoaded();
    record_.looks = window_->Looks();
    record_.story = window_->Story();
    record_.story.insert(record_.story.end(), actedLines_.begin(), actedLines_.end());
    if (!options_.screenshots.empty()) {
        record_.missingShots =
            SavePhaseShots(record_.looks, work_ + "/shots", options_.screenshots);
    }
    QFile log(QString::fromStdString(work_ + "/updater.log"));
    if (log.open(QIODevice::ReadOnly)) {
        const QByteArray output = log.readAll();
        record_.updaterOutput = output.right(4000).toStdString();
    }
}

void Session::BuildRig()
{
    // Under Wine only a FUSE file answers the mailbox: Wine reads a loop device through the page
    // cache, and would give back the command just written.
    const bool wine = !options_.winePrefix.empty();
    const bool loop = !wine && (options_.nodes == RunOptions::Nodes::Loop ||
                                (options_.nodes == RunOptions::Nodes::Auto && geteuid() == 0));
    record_.nodes = wine   ? "FUSE files, listed under Wine"
                    : loop ? "loop devices over FUSE files"
                           : "FUSE files";
    rig_ = std::make_unique<Rig>(loop, work_ + "/mnt");
    if (wine) {
        rig_->ServeToWine(std::make_unique<WineDevices>(options_.winePrefix, WineListFile()));
    }
    QByteArray fileSystem;
    const bool mounts = std::any_of(scenario_.calculators.begin(), scenario_.calculators.end(),
                                    [](const CalculatorPlan& plan) { return plan.mounted; });
    if (mounts && loop && !MakeFileSystem(work_ + "/disk.ext2", &fileSystem))
        record_.setupError = "cannot make a file system with mke2fs";
    const auto origin = Clock::now();
    for (const CalculatorPlan& plan : scenario_.calculators) {
        auto calculator = std::make_unique<Calculator>(plan.serial, kDiskSize, record_.files,
                                                       plan.behaviour, origin);
        calculator->SetBandwidth(scenario_.bandwidth);
        calculator->OnData([this](std::uint64_t offset, std::uint64_t length) {
            // Before the write is answered: the updater reads on only after the change.
            for (std::size_t i = 0; i < scenario_.changes.size(); ++i) {
                const SourceChange& change = scenario_.changes[i];
                if (change.atByte == 0 || change.atByte < offset ||
                    change.atByte >= offset + length || changed_[i]->exchange(true))
                    continue;
                std::string error;
                if (!ChangeSource(record_.folder, change, &error)) {
                    std::lock_guard<std::mutex> lock(changeMutex_);
                    changeError_ = error;
                }
            }
        });
        if (plan.mounted)
            calculator->SetEarlier(0, fileSystem);
        calculators_.push_back(rig_->AddCalculator(std::move(calculator)));
        if (plan.mounted)
            rig_->Mount(calculators_.back());
        replugAt_.push_back(-1);
        leftAfter_.push_back(0);
        firstDataOf_.emplace_back();
        finishOf_.emplace_back();
    }
    portFreeAt_.assign(static_cast<std::size_t>(std::max(scenario_.hub.ports, 0)), 0.0);
    for (std::size_t i = 0; i < scenario_.others.size(); ++i) {
        auto disk = std::make_unique<PlainDisk>(kDiskSize, 1000 + i);
        others_.push_back(rig_->AddOther(scenario_.others[i], std::move(disk)));
    }
}

RunRecord Session::Run()
{
    record_.skipReason = SkipReason(options_);
    if (record_.skipReason.empty() && Prepare()) {
        BuildRig();
        std::string error;
        const bool mounts = std::any_of(scenario_.calculators.begin(), scenario_.calculators.end(),
                                        [](const CalculatorPlan& plan) { return plan.mounted; });
        if (mounts && !rig_->LoopNodes()) {
            record_.skipReason = "a mounted disk can only be played with loop devices (root)";
        } else if (!record_.setupError.empty()) {
            // Nothing to run against.
        } else if (!rig_->Start(&error)) {
            record_.skipReason = error;
        } else {
            bool plugged = true;
            for (int other : others_)
                plugged = plugged && rig_->Plug(other, &record_.setupError);
            // The calculators due at once are there before the updater starts.
            // The updater's single-instance guard is a name for the whole network namespace: one
            // of the run's own keeps runs side by side apart, and its second copy shares it.
            // Only this thread moves, and the updater with every child it starts from here.
            if (geteuid() == 0)
                unshare(CLONE_NEWNET);
            if (plugged && PlugAndPull(0) && StartUpdater()) {
                Watch();
                Collect();
            }
        }
        updater_.Stop();
        rig_->Stop();
    }
    if (!work_.empty() && !options_.keepWorkDir)
        QDir(QString::fromStdString(work_)).removeRecursively();
    return record_;
}

} // namespace

RunRecord RunScenario(const Scenario& scenario, const RunOptions& options)
{
    return Session(scenario, options).Run();
}

void RequestStop()
{
    g_stopRequested = 1;
}
