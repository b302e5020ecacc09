#pragma once

#include "text/text_store.h"
#include "update/update_history.h"
#include "update/update_set.h"

#include <QString>
#include <QVector>

#include <atomic>
#include <functional>

// One update as the window and the command line both run it: its folder, the check of its set
// against the calculators there, each attempt at a file, what follows the attempt, the finish
// command and the history record. The faces keep only what they show and how they wait.

// The folder of an update when none is given: the suite's work folder and in it the folder named
// by text 657 ("Firmware") in the language of `texts`.
QString defaultUpdateFolder(const QString& workFolder, const CTextStore& texts);

// Where the two faces differ on purpose.
struct UpdateRunOptions {
    QString program; // as the history names it
    // After a file's last attempt failed, the update goes on with the next file while some
    // calculator holds this one, so that one broken calculator does not hold back a class set;
    // otherwise the update ends there.
    bool goOnPastBroken = false;
    // Each file is read back from every calculator after it is written: 113 for a difference.
    bool verify = false;
};

// The calculators present now, up to `capacity`, in disk-table order; unopened (`open` false),
// their sizes are -1.
QVector<DiskResult> presentCalculators(int capacity, bool open = true);

enum class UpdateStep { NextFile, Retry, Done, GiveUp };

// What follows attempt `attempt` (1 for the first) at file `file` of `fileCount`, which gave
// `result`: the next file (or the end) on success; a retry while retries are left; then, with
// goOnPastBroken and `someHaveIt` (some calculator holds the file), the next file; else the end.
UpdateStep stepAfterAttempt(const UpdateRunOptions& options, int file, int fileCount, int attempt,
                            int result, bool someHaveIt);

class UpdateRun {
public:
    UpdateRun() = default;
    UpdateRun(const UpdateRunOptions& options, const QVector<UpdateSetEntry>& set,
              const QString& folder);

    const QVector<UpdateSetEntry>& set() const { return set_; }
    HistoryRecord& record() { return record_; }
    const HistoryRecord& record() const { return record_; }

    // The calculators present now become rows of the record: up to `capacity`, those past the
    // kMaxDisks a transfer writes marked passed over. Unopened (`open` false), sizes are -1.
    QVector<DiskResult> listCalculators(int capacity, bool open = true);
    // Makes this the update of these calculators alone (up to kMaxDisks; a station's wave): they
    // are the record's rows, the check takes their sizes as given, and every transfer, read-back
    // and finish touches them and no other calculator. A retry of a file goes only to those of
    // them that lack it, and a later file only to those that hold the earlier ones: none of them
    // is written the same file twice. With `onlyWhereDue` false every attempt goes to all of them,
    // as an update of its own does.
    void restrictTo(const QVector<DiskResult>& calculators, bool onlyWhereDue = true);
    // Checks the whole set against the calculators present now, which become the update's (a
    // calculator unplugged later is still one that must get every file; one plugged in later is
    // not written), and begins the record unless it has been. On success every later attempt proves
    // each chunk against this check. `stop`: as for checkUpdateSet. With `sameAs` (the digests of
    // an earlier check, a station's first), a file that is no longer what that check read is
    // refused (109).
    UpdateSetCheck check(const std::atomic<bool>* stop = nullptr,
                         const QVector<SourceDigest>* sameAs = nullptr);
    // How many calculators the update is of, once restricted (by restrictTo or by its check);
    // -1 before.
    int calculatorCount() const { return restricted_ ? int(only_.size()) : -1; }
    // The digests of the set, once checked.
    const QVector<SourceDigest>& digests() const { return digests_; }
    // One attempt at file `file` of the set, on every calculator there, its results noted on the
    // record (`disks`, when given, receives them). 104 when a calculator of the update lacks this
    // file or an earlier one, though the others took it.
    // `readingBack` is called as the read-back begins.
    int attempt(int file, ProgressCallback progress, MessageCallback message,
                QVector<DiskResult>* disks = nullptr,
                const std::function<void()>& readingBack = nullptr);
    // What follows an attempt that gave `result`. Going on past a file that some calculators
    // lack leaves them behind: later files no longer wait for them.
    UpdateStep stepAfter(int file, int attempt, int result);
    // The finish command to every calculator, each one's outcome noted on its row: 0 when it
    // reached every calculator of the update, else the first one's code it missed.
    int finish();

private:
    // What the engine may touch for file `file`: null for every calculator (no restriction).
    const DiskSelection* selectionFor(int file);

    UpdateRunOptions options_;
    bool restricted_ = false;
    bool onlyWhereDue_ = true;
    QVector<DiskResult> only_;
    DiskSelection selection_;
    QVector<UpdateSetEntry> set_;
    QVector<SourceDigest> digests_; // of set_, once checked
    HistoryRecord record_;
    QSet<QString> leftBehind_; // paths of the calculators the update went on without
};
