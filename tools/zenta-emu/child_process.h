// A child process of the emulator, and the environment lists it is started with.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// The updater as the emulator runs it: its own environment, its output to a log file, and no
// life of its own beyond the emulator's.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { Stop(); }

    // An empty logFile leaves the child this process's own output.
    bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
               const std::string& logFile, std::string* error);
    // The exit status once it has ended, without waiting.
    std::optional<int> Poll();
    // Asks it to end (SIGTERM), and ends it (SIGKILL) after the grace time.
    void Stop(int graceMs = 2000);
    bool Running() const { return pid_ > 0 && !status_; }
    // "exit code 0", "killed by signal 15"...
    static std::string Describe(int status);

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// The environment of this process, as NAME=value entries.
std::vector<std::string> CurrentEnvironment();
// Sets (or adds) NAME=value in an environment list.
void SetVariable(std::vector<std::string>* environment, const std::string& name,
                 const std::string& value);
std::string GetVariable(const std::vector<std::string>& environment, const std::string& name);
