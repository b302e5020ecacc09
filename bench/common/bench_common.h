// Helpers of the bench programs and their probe plugins: the clock, the result table, the
// update and runtime folders, and starting the updater.
#ifndef QUILLON_BENCH_COMMON_H
#define QUILLON_BENCH_COMMON_H

#include <QPair>
#include <QString>
#include <QVector>

#include <sys/types.h>

// CLOCK_MONOTONIC in nanoseconds: the same clock in a bench program and in a probe plugin.
long long MonotonicNs();

// The result table: a header, and a row of the median, least and greatest of `values`.
void PrintHeader();
void PrintRow(const QString& what, QVector<double> values, const char* unit);

// Writes the three files of a complete update (4 KiB each) into `folder`, made if need be.
bool MakeUpdateFolder(const QString& folder);

// Makes `home`/runtime, readable by its owner alone, as XDG_RUNTIME_DIR must be.
void MakeRuntimeDir(const QString& home);

using EnvironmentSet = QVector<QPair<QString, QString>>;

// Starts `updater` on `folder` (with a poll interval of 1 s), in this process's environment with
// `set` in place of what it names. The child gets a network namespace of its own where it can
// have one (as root): the single-instance guard's name lives there, so that an updater running
// elsewhere on the machine does not make this one end at once as a second copy. `quiet` sends
// its output to /dev/null. `started`, unless null, gets the moment just before the fork. Gives the
// child's pid, or -1.
pid_t StartUpdater(const QString& updater, const QString& folder, const EnvironmentSet& set,
                   bool quiet, long long* started = nullptr);

#endif
