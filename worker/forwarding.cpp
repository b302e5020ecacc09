// The engine's callbacks, forwarded to the dialog as its signals.
#include "worker/forwarding.h"

#include "update/engine_text.h"

#include <QMetaObject>
#include <QObject>
#include <QString>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>

namespace {

std::atomic<QObject*> g_receiver{nullptr};

// The engine runs one thread per calculator disk and calls back on it: the calling thread tells
// which calculator a report is from.
std::mutex g_progressLock;
std::map<std::thread::id, int> g_threadPercent;
int g_shownPercent = -1;

void noteThread(int percent)
{
    int& known = g_threadPercent.emplace(std::this_thread::get_id(), 0).first->second;
    known = std::max(known, percent);
}

} // namespace

void beginForwardedFile()
{
    std::lock_guard<std::mutex> guard(g_progressLock);
    g_threadPercent.clear();
    g_shownPercent = -1;
}

void setForwardingReceiver(QObject* receiver)
{
    g_receiver = receiver;
}

// A direct invocation of the signal runs its emission here, on the transfer thread; the
// receiver's automatic connections then queue the call to its own thread.
void forwardProgress(int percent)
{
    // Emitted under the lock, so that two threads' reports cannot overtake each other.
    std::lock_guard<std::mutex> guard(g_progressLock);
    noteThread(percent);
    int slowest = percent;
    for (const auto& thread : g_threadPercent)
        slowest = std::min(slowest, thread.second);
    if (slowest <= g_shownPercent)
        return;
    g_shownPercent = slowest;
    QObject* receiver = g_receiver;
    if (receiver != nullptr)
        QMetaObject::invokeMethod(receiver, "updateProgress", Qt::DirectConnection,
                                  Q_ARG(int, slowest));
}

void forwardMessage(const WChar* text)
{
    {
        std::lock_guard<std::mutex> guard(g_progressLock);
        noteThread(0);
    }
    QObject* receiver = g_receiver;
    if (receiver == nullptr)
        return;
    QMetaObject::invokeMethod(receiver, "updateMessage", Qt::DirectConnection,
                              Q_ARG(QString, toQString(text)));
}
