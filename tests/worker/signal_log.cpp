#include "signal_log.h"

#include "worker/update_worker.h"

SignalLog::SignalLog(CUpdateWorker* worker)
{
    connect(worker, &CUpdateWorker::foundDevice, this, [this] { add("found"); });
    connect(worker, &CUpdateWorker::waitingStart, this, [this] { add("start"); });
    connect(worker, &CUpdateWorker::downloadActive, this, [this] { add("active"); });
    connect(worker, &CUpdateWorker::downloadInactive, this, [this] { add("inactive"); });
    connect(worker, &CUpdateWorker::waitingTicks, this,
            [this](int ticks) { add(QString("ticks %1").arg(ticks)); });
    connect(worker, &CUpdateWorker::updaterRan, this,
            [this](int result) { add(QString("ran %1").arg(result)); });
    connect(worker, &CUpdateWorker::updateFailed, this,
            [this](int result, const QString&) { add(QString("failed %1").arg(result)); });
    connect(worker, &CUpdateWorker::finishSent, this, [this] { add("sent"); });
    // A station's.
    connect(worker, &CUpdateWorker::waveStarted, this, [this](int wave, int calculators) {
        add(QString("wave %1 of %2").arg(wave).arg(calculators));
    });
    connect(worker, &CUpdateWorker::attemptStep, this,
            [this](int step) { add(QString("step %1").arg(step)); });
    connect(worker, &CUpdateWorker::waveEnded, this,
            [this](int wave, int result, const UpdateProblem& problem) {
                add(QString("ended %1 %2%3")
                        .arg(wave)
                        .arg(result)
                        .arg(problem.isNone() ? "" : " refused"));
            });
    connect(worker, &CUpdateWorker::tallyChanged, this,
            [this](int updated, int failed, int waiting) {
                add(QString("tally %1 %2 %3").arg(updated).arg(failed).arg(waiting));
            });
    // Direct: runs on the worker thread at the moment of emission.
    connect(
        worker, &CUpdateWorker::updaterRan, worker,
        [this, worker](int) { stateAtRan = worker->state.load(); }, Qt::DirectConnection);
}

void SignalLog::add(const QString& entry)
{
    entries << entry;
    if (onEntry)
        onEntry(entry);
}
