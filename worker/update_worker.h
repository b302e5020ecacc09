#pragma once

#include "update/update_history.h"
#include "update/update_run.h"
#include "update/update_set.h"

#include <QMutex>
#include <QObject>
#include <QString>
#include <QVector>

#include <atomic>
#include <cstdint>

// The steps of the worker's poll loop; the dialog stores Transferring to start the next file.
enum WorkerState : int {
    Searching = 0,
    CountingDown = 1,
    Transferring = 2,
    Idle = 3,
    Backoff = 4,
};

// Keeps the slow and blocking work off the GUI thread: lives on a QThread of its own, polls for
// the calculator, lets the dialog's countdown run out and runs each transfer through the engine.
// The dialog owns it and steers it through the atomic fields; `countdownMs` and `busy` belong to
// the dialog and are handed in as pointers, so that the worker never knows the dialog.
class CUpdateWorker : public QObject {
    Q_OBJECT
public:
    CUpdateWorker(std::atomic<int>* countdownMs, std::atomic<bool>* busy);
    ~CUpdateWorker() override;

    // The file of the next transfer. Written by the dialog only while no transfer runs, read
    // by the worker when one starts; the lock keeps the string whole across the two threads.
    void setTarget(const QString& path, std::int64_t offset);
    QString filePath() const;
    std::int64_t diskOffset() const;
    // The whole update, in the order it is written. Checked before its first byte goes out;
    // every transfer of one of its files then proves that it wrote the bytes checked.
    void setUpdateSet(const QVector<UpdateSetEntry>& set);

    // Ends the loop for good, and cancels a restart that has not run yet. A pause under way ends
    // at once.
    void requestStop();
    // After the loop has been stopped: runs it again from Searching (any thread).
    void requestRestart();
    // Stops the loop and then, on the worker's thread once no transfer runs, sends the finish
    // command to every calculator and emits finishSent (any thread; returns at once).
    void requestFinish();

    std::atomic<bool> transferStarted{false}; // written by the worker thread only
    std::atomic<bool> stopRequested{false};
    std::atomic<int> state{Searching};
    int tickCount = 0; // worker thread only
    std::atomic<int> retryCount{0};
    std::atomic<int> lastResult{0};
    // Set before finishSent: 0 when the finish command reached every calculator of the update,
    // else the code of the first one it missed (for the dialog's outcome).
    std::atomic<int> finishResult{0};

    // How the window's update goes: it ends at a file that a calculator of the update still lacks
    // after the retries, and has no read-back.
    static UpdateRunOptions runOptions() { return {"quillon-fwupdate", false, false}; }

public slots:
    // The poll loop; returns when `stopRequested` is seen between steps, or after an exception.
    void process();
    // Runs the loop again as from start-up if a restart is still wanted. Queued on the worker's
    // thread by requestRestart, it never starts before the earlier `process` has returned.
    void restart();
    // Sends the finish command if one was asked for and has not gone out yet.
    void finish();

signals:
    // Never emitted: the worker and its thread stay alive until the program ends.
    void finished();
    void foundDevice();
    void waitingStart();
    void downloadActive();
    void downloadInactive();
    void waitingTicks(int ticks);
    void updaterRan(int result);
    // The update cannot go on: the loop has ended with this result (-2: a step threw), and
    // `reason` says why in a line of its own when there is more to say, in English; `problem` is
    // the same for the window to word in the user's language (none when the loop threw).
    void updateFailed(int result, const QString& reason,
                      const UpdateProblem& problem = UpdateProblem());
    void finishSent();
    // Before each transfer: how many calculators are connected, and how many of them the
    // transfer writes (the engine takes at most kMaxDisks at once).
    void calculatorsCounted(int found, int updated);

private:
    void step();
    void search();
    void countDown();
    void transfer();
    int runTransfer();
    // Gives false, having ended the update, when the set may not be written.
    bool checkSet();
    // Appends the update to the history once, as it ends; a failure goes to the log only.
    void writeHistory();
    // Gives false when a stop request ended the pause or came during it.
    bool pause(int milliseconds);

    std::atomic<int>* countdownMs_;
    std::atomic<bool>* busy_;
    mutable QMutex lock_; // the target, and a stop against a pending restart
    bool restartPending_ = false;
    std::atomic<bool> finishPending_{false};
    QString filePath_;
    std::int64_t diskOffset_ = 0;
    QVector<UpdateSetEntry> set_;
    // The update under way, from the check of its set to the finish command, with its history
    // record; worker thread only.
    UpdateRun run_;
    bool historyOpen_ = false;
    int searchedMs_ = 0; // how long a retry has waited for a calculator to come back
};
