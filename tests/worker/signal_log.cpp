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
