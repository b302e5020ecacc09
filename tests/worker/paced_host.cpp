#include "paced_host.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QSemaphore>
#include <QTemporaryDir>

#include <memory>

PacedHost::PacedHost()
{
    // Updates on the test host go to a history of the test run's own, never the user's.
    static QTemporaryDir stateHome;
    qputenv("XDG_STATE_HOME", stateHome.path().toLocal8Bit());
    host_.onSleep = [this](int ms) { pace(ms, nullptr); };
    host_.onSleepUnless = [this](int ms, const std::atomic<bool>& wake) { pace(ms, &wake); };
    SetHost(&host_);
}

PacedHost::~PacedHost()
{
    release();
    SetHost(nullptr);
}

int PacedHost::pausesOf(int ms) const
{
    int count = 0;
    for (const auto& event : host_.Events())
        count += event.op == TestHost::Op::Sleep && event.length == ms ? 1 : 0;
    return count;
}

void PacedHost::pace(int ms, const std::atomic<bool>* wake)
{
    if (beforeSleep)
        beforeSleep(ms);
    QCoreApplication* app = QCoreApplication::instance();
    if (released_ || app == nullptr || QThread::currentThread() == app->thread())
        return;
    // Shared with the queued call, which may run after this pause has given up waiting.
    auto turn = std::make_shared<QSemaphore>();
    QMetaObject::invokeMethod(
        app, [turn] { turn->release(); }, Qt::QueuedConnection);
    while (!turn->tryAcquire(1, 20)) {
        if (released_ || (wake != nullptr && *wake))
            return;
    }
}

std::vector<unsigned char> fileBytes(std::int64_t size)
{
    std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}
