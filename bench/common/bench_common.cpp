// What the bench programs share: the monotonic clock, the result table, a sample update folder
// and the updater started in an environment of its own.
#include "bench_common.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <unistd.h>
#include <vector>

extern char** environ;

long long MonotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

void PrintHeader()
{
    std::printf("| %-58s | %9s | %9s | %9s | %-5s |\n", "measure", "median", "min", "max", "unit");
    std::printf("|%s|%s|%s|%s|%s|\n",
                "------------------------------------------------------------", "-----------",
                "-----------", "-----------", "-------");
}

void PrintRow(const QString& what, QVector<double> values, const char* unit)
{
    std::sort(values.begin(), values.end());
    std::printf("| %-58s | %9.2f | %9.2f | %9.2f | %-5s |\n", qPrintable(what),
                values[values.size() / 2], values.front(), values.back(), unit);
}

bool MakeUpdateFolder(const QString& folder)
{
    QDir().mkpath(folder);
    for (const char* name : {"ZENTA_OS.ROM", "ZENTA_KESTOL.DAT", "ZENTA_APP.DAT"}) {
        QFile file(folder + "/" + name);
        if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray(4096, 'z')) != 4096)
            return false;
    }
    return true;
}

void MakeRuntimeDir(const QString& home)
{
    const QString runtime = home + "/runtime";
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

pid_t StartUpdater(const QString& updater, const QString& folder, const EnvironmentSet& set,
                   bool quiet, long long* started)
{
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        env.emplace_back(*e);
    for (const auto& pair : set) {
        const std::string prefix = pair.first.toStdString() + "=";
        env.erase(std::remove_if(env.begin(), env.end(),
                                 [&](const std::string& e) { return e.rfind(prefix, 0) == 0; }),
                  env.end());
        env.push_back(prefix + pair.second.toStdString());
    }
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);
    const std::string program = updater.toStdString(), folderArg = folder.toStdString();
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(folderArg.c_str()),
                    const_cast<char*>("1"), nullptr};

    if (started != nullptr)
        *started = MonotonicNs();
    const pid_t pid = fork();
    if (pid == 0) {
        unshare(CLONE_NEWNET);
        if (quiet) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        execve(argv[0], argv, envp.data());
        _exit(127);
    }
    return pid < 0 ? -1 : pid;
}
