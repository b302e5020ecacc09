#pragma once

#include <QObject>
#include <QStringList>

#include <atomic>
#include <functional>

class CUpdateWorker;

// Records the worker's signals as the GUI thread receives them (queued, like the dialog), one
// entry each: "found", "start", "active", "inactive", "ticks N", "ran N", "failed N", "sent";
// a station's "wave N of C", "step S", "ended N R" ("ended N R refused" for a refused wave) and
// "tally U F W". It also keeps the worker's state as it stood when `updaterRan` was emitted.
class SignalLog : public QObject {
    Q_OBJECT
public:
    explicit SignalLog(CUpdateWorker* worker);

    QStringList entries;
    int count(const QString& entry) const { return entries.count(entry); }
    std::atomic<int> stateAtRan{-1};

    // Called on the GUI thread after each entry is recorded: the test's answer, as the
    // dialog's slot would give it.
    std::function<void(const QString& entry)> onEntry;

private:
    void add(const QString& entry);
};
