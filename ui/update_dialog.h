#pragma once

#include "text/text_store.h"
#include "ui/time_left.h"
#include "ui/window_texts.h"
#include "update/update_files.h"

#include <QByteArray>
#include <QDialog>
#include <QElapsedTimer>
#include <QIcon>
#include <QList>
#include <QString>

#include <atomic>

class FileLineLabel;
class CUpdateWorker;
class QCloseEvent;
class QLabel;
class QProgressBar;
class QPushButton;
class QThread;
class QTimer;

// The one window of the updater and the owner of the update's state: it finds the update
// files, steers the worker (which lives on its own thread and reports by queued signals), and
// shows countdown, progress, retries and outcome. The worker and its thread have no parent and
// live until the process ends; every widget is a child of the dialog.
class CCalcFWUpdateMSDialog : public QDialog {
    Q_OBJECT
public:
    // `folder` and `language` come from the command line; an empty folder makes the dialog
    // take both from the suite's settings. A station updates one wave of calculators after
    // another until it is closed between two waves.
    CCalcFWUpdateMSDialog(QString folder, int language, bool station = false);
    ~CCalcFWUpdateMSDialog() override;

    void setLine(const QString& text, int line);
    // The common end of an update: success, failure, abort or nothing to do. The finish command
    // goes out on the worker's thread; when no transfer has run, only once the window closes.
    void finishUpdate(const QString& message);
    QString translate(const char* englishDefault, int id) const;
    QString translate(const WindowText& text) const { return translate(text.english, text.id); }
    // Why the folder or the set is not an update, in the user's language.
    QString describe(const UpdateProblem& problem) const;

    void scanUpdateFolder();
    void detectNewGeneration();
    bool isUpdateFile(const QString& name) const;
    void selectCurrentFile();

    // Shared with the worker thread without a lock.
    std::atomic<int> countdownMs{0};
    QIcon appIcon;
    QIcon folderIcon;
    std::atomic<bool> busy{false};
    bool newGeneration = false;
    CTextStore textStore;
    QProgressBar* progressBar = nullptr;
    QPushButton* cancelButton = nullptr;
    QPushButton* browseButton = nullptr;
    QLabel* textLines[4] = {};
    QByteArray note;
    int currentFile = 0;
    QList<CUpdateFile*> updateFiles; // owned
    QThread* workerThread = nullptr;
    CUpdateWorker* worker = nullptr;
    QString updateFolder;

    bool isStation() const { return station_; }

signals:
    // Emitted from the engine's transfer threads (see worker/forwarding.h); the text is a copy
    // owned by the queued call.
    void updateMessage(const QString& message);
    void updateProgress(int percent);

public slots:
    // Every way of closing the dialog (Escape, reject, accept) is refused like the close button
    // while an update runs.
    void done(int result) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private slots:
    void onCancel();
    void onUpdaterRan(int result);
    void onUpdateMessage(const QString& message);
    void onUpdateProgress(int percent);
    void onFoundDevice();
    void onWaitingStart();
    void onDownloadActive();
    void onDownloadInactive();
    void onWaitingTicks(int ticks);
    void onExitUpdater();
    void onBrowseFolder();
    void onUpdateFailed(int result, const QString& reason,
                        const UpdateProblem& problem = UpdateProblem());
    void onFinishSent();
    void onCalculatorsCounted(int found, int updated);
    void onWaitingTooLong();
    // A station's reports.
    void onWaveStarted(int wave, int calculators);
    void onAttemptStep(int step);
    void onWaveEnded(int wave, int result, const UpdateProblem& problem);
    void onTallyChanged(int updated, int failed, int waiting);

private:
    void loadIcons();
    void chooseFolderAndLanguage(const QString& folder, int language);
    void startWorker();
    void buildWidgets();
    void buildLayout(QLabel* pictureLabel);
    void connectSignals();
    void clearUpdateFiles();
    void restartUpdate();
    void scheduleExit();
    bool mayClose() const;
    void sendFinish();
    // The window goes now, the process once the finish command has gone out.
    void leaveWhenFinishSent();
    // What to do, on line 4; empty clears it.
    void setHint(const QString& hint);
    void growToLines();
    // The right-hand button's text, told to a screen reader as it changes (the countdown).
    void setButtonText(const QString& text);
    void setFailureHint(int result, bool updateOver);
    void describeWidgets();
    FileLineLabel* fileLine() const;
    // A station's answer to an attempt's result; its wave's end comes from the worker.
    void stationAttemptRan(int result);
    // "Update failed (%1), Retry: %2" and the same file again.
    void showRetry(int result, int retry);
    // `outcome` on the first line, and the worker set straight on the next file.
    void startNextFile(const QString& outcome);
    void showTally();

    // The button reads "Start" while the countdown runs and until the transfer begins.
    bool startOffered_ = false;
    // From the first transfer of an update to its outcome; with `busy`, keeps the window open.
    bool updateUnderway_ = false;
    bool finishDeferred_ = false; // the update ended before any transfer: sent at closing
    bool finishPending_ = false;  // asked of the worker, not sent yet
    bool quitWhenSent_ = false;
    bool succeeded_ = false;     // "Done" is shown; it holds once every calculator took the finish
    bool quitAfterDone_ = false; // the 3 s after "Done" ran out while the finish was under way
    // Shows the waiting hint once the calculator has been awaited for long.
    QTimer* waitingHintTimer_ = nullptr;
    // The last transfer found more calculators than it writes: said until the window goes.
    QString tooManyCalculators_;
    TimeLeft timeLeft_;
    QElapsedTimer clock_;

    const bool station_ = false;
    int stationStep_ = 0; // the UpdateStep of the attempt reported next
    int wave_ = 0;        // the latest wave begun
    QString tally_;       // the running count, shown between waves
};

// The one dialog, from the start of its construction to the end of the process.
extern CCalcFWUpdateMSDialog* g_dialog;
