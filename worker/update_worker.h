#pragma once

#include "update/station.h"
#include "update/update_history.h"
#include "update/update_run.h"
#include "update/update_set.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QVector>

#include <atomic>
#include <cstdint>

// The steps of the worker's poll loop; the dialog stores Transferring to start the next file. A
// station lists the calculators in Searching between its waves.
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
//
// As a station (`station` true) it updates one wave of calculators after another: it lists them
// at each poll, lets a wave settle (the settle's milliseconds left go into `countdownMs`), checks
// the set for each wave against the station's first check, runs the wave's files as the dialog
// sequences them, and sends the wave's finish command and writes its record itself.
class CUpdateWorker : public QObject {
    Q_OBJECT
public:
    CUpdateWorker(std::atomic<int>* countdownMs, std::atomic<bool>* busy, bool station = false);
    ~CUpdateWorker() override;

    bool isStation() const { return station_; }

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
    // A station's settle countdown: the wave begins at the next poll (any thread). Forgotten when
    // no wave is coming any more.
    void startWaveEarly() { startEarly_ = true; }

    std::atomic<bool> transferStarted{false}; // written by the worker thread only
    std::atomic<bool> stopRequested{false};
    std::atomic<int> state{Searching};
    int tickCount = 0; // worker thread only
    std::atomic<int> retryCount{0};
    std::atomic<int> lastResult{0};
    // Set before finishSent: 0 when the finish command reached every calculator of the update,
    // else the code of the first one it missed (for the dialog's outcome).
    std::atomic<int> finishResult{0};

    // A station's wave from its start to the end of its finish command and record: the window
    // must not go meanwhile. Written by the worker thread only.
    std::atomic<bool> waveUnderway{false};

    // How the window's update goes: it ends at a file that a calculator of the update still lacks
    // after the retries, and has no read-back.
    static UpdateRunOptions runOptions() { return {"quillon-fwupdate", false, false}; }
    // A station's wave goes on past a broken calculator: the others of the wave still get every
    // file.
    static UpdateRunOptions stationRunOptions() { return {"quillon-fwupdate", true, false}; }

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
    // transfer writes (the engine takes at most kMaxDisks at once). A station's: its wave's.
    void calculatorsCounted(int found, int updated);
    // A station's wave has begun (its countdown is over): its number and calculators.
    void waveStarted(int wave, int calculators);
    // A station's: what follows the attempt whose updaterRan comes next (an UpdateStep).
    void attemptStep(int step);
    // A station's wave is over, its finish command sent and its record written: `result` 0 when
    // every calculator of it was updated, else the first failure's code. A wave refused before
    // its first byte (nothing written) has the refusal's result and `problem`.
    void waveEnded(int wave, int result, const UpdateProblem& problem = UpdateProblem());
    // A station's running count, at its first poll and whenever it changes.
    void tallyChanged(int updated, int failed, int waiting);

private:
    void step();
    void search();
    void countDown();
    void transfer();
    int runTransfer();
    // Gives false, having ended the update, when the set may not be written.
    bool checkSet();
    // Ends the update over a set that may not be written: its record, the stop, the reason.
    void refuse(const UpdateSetCheck& check);
    // Appends the update to the history once, as it ends; a failure goes to the log only.
    void writeHistory();
    // Gives false when a stop request ended the pause or came during it.
    bool pause(int milliseconds);
    QVector<UpdateSetEntry> updateSet() const;
    // The index in the update run's set of the file at `path`; -1 when it is none of them.
    int fileOfRun(const QString& path) const;

    // The station's steps, worker thread only.
    void stationPoll();
    // The set checked once, against no calculator: every wave's check must read the same files.
    bool checkStation(const QVector<UpdateSetEntry>& set);
    void beginWave();
    // What follows a station's attempt, once its result is known.
    UpdateStep stationStep(int result);
    // The wave's finish command to its calculators, then closeWave.
    void finishWave(const QString& outcome);
    // Writes the wave's record, tells the tracker and the dialog; the station lists again.
    void closeWave(int result, const UpdateProblem& problem);
    void reportTally();
    // The station's clock: the worker's own pauses, as the host took them, and the time its waves
    // took besides (their transfers and finish commands). A poll's own work is quick and left out,
    // so that a settle is counted in polls.
    qint64 stationNowMs() const;

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

    const bool station_;
    std::atomic<bool> startEarly_{false};
    // Worker thread only, from here on.
    StationTracker tracker_;
    bool stationChecked_ = false;
    QVector<SourceDigest> stationDigests_; // of the station's first check
    int wave_ = 0;
    int waveSize_ = 0;
    qint64 waveStartMs_ = 0;
    int attemptFile_ = -1; // the file of the wave's latest attempt, and its attempts so far
    int attempts_ = 0;
    StationTally reported_{-1, -1, -1};
    QElapsedTimer clock_;
    qint64 pausedMs_ = 0;       // the pauses' lengths
    qint64 realPausedMs_ = 0;   // the time they took
    qint64 wavesMs_ = 0;        // the waves' time outside pauses
    qint64 waveClockStart_ = 0; // on clock_ less the pauses, as the wave began
};
