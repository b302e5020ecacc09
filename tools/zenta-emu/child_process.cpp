// The updater as a child process that dies with the emulator: started, polled and stopped; and
// the environment lists it is given.
#include "child_process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::vector<char*> Pointers(const std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    for (const std::string& s : strings)
        pointers.push_back(const_cast<char*>(s.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

// In the child, between fork and exec: only async-signal-safe calls.
[[noreturn]] void BecomeChild(pid_t parent, int log, char** argv, char** envp)
{
    // Dies with the emulator, however the emulator ends.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(127);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (log >= 0) {
        dup2(log, STDOUT_FILENO);
        dup2(log, STDERR_FILENO);
    }
    const int input = open("/dev/null", O_RDONLY);
    if (input >= 0)
        dup2(input, STDIN_FILENO);
    execve(argv[0], argv, envp);
    _exit(127);
}

} // namespace

bool ChildProcess::Start(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment, const std::string& logFile,
                         std::string* error)
{
    const int log = logFile.empty()
                        ? -1
                        : open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (log < 0 && !logFile.empty()) {
        *error = "cannot write " + logFile;
        return false;
    }
    std::vector<char*> args = Pointers(argv);
    std::vector<char*> envp = Pointers(environment);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0)
        BecomeChild(parent, log, args.data(), envp.data());
    if (log >= 0)
        close(log);
    if (pid < 0) {
        *error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    pid_ = pid;
    status_.reset();
    return true;
}

std::optional<int> ChildProcess::Poll()
{
    if (pid_ > 0 && !status_) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_)
            status_ = status;
    }
    return status_;
}

void ChildProcess::Stop(int graceMs)
{
    if (!Running() || Poll())
        return;
    kill(pid_, SIGTERM);
    for (int waited = 0; waited < graceMs && !Poll(); waited += 20)
        usleep(20000);
    if (!Poll()) {
        kill(pid_, SIGKILL);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        status_ = status;
    }
}

std::string ChildProcess::Describe(int status)
{
    if (WIFEXITED(status))
        return "exit code " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "killed by signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

std::vector<std::string> CurrentEnvironment()
{
    std::vector<std::string> environment;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry)
        environment.emplace_back(*entry);
    return environment;
}

void SetVariable(std::vector<std::string>* environment, const std::string& name,
                 const std::string& value)
{
    const std::string prefix = name + "=";
    for (std::string& entry : *environment) {
        if (entry.compare(0, prefix.size(), prefix) == 0) {
            entry = prefix + value;
            return;
        }
    }
    environment->push_back(prefix + value);
}

std::string GetVariable(const std::vector<std::string>& environment, const std::string& name)
{
    const std::string prefix = name + "=";
    for (const std::string& entry : environment) {
        if (entry.compare(0, prefix.size(), prefix) == 0)
            return entry.substr(prefix.size());
    }
    return "";
}
