#include "worker/forwarding.h"

#include "device/text16.h"

#include <QMetaObject>
#include <QObject>
#include <QString>

#include <atomic>

namespace {
std::atomic<QObject*> g_receiver{nullptr};
}

void setForwardingReceiver(QObject* receiver)
{
    g_receiver = receiver;
}

// A direct invocation of the signal runs its emission here, on the transfer thread; the
// receiver's automatic connections then queue the call to its own thread.
void forwardProgress(int percent)
{
    QObject* receiver = g_receiver;
    if (receiver != nullptr)
        QMetaObject::invokeMethod(receiver, "updateProgress", Qt::DirectConnection,
                                  Q_ARG(int, percent));
}

void forwardMessage(const WChar* text)
{
    QObject* receiver = g_receiver;
    if (receiver == nullptr)
        return;
    const QString copy =
        text == nullptr
            ? QString()
            : QString::fromUtf16(reinterpret_cast<const char16_t*>(text), Length16(text));
    QMetaObject::invokeMethod(receiver, "updateMessage", Qt::DirectConnection,
                              Q_ARG(QString, copy));
}
