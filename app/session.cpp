// Ending plainly when no window can be shown: Qt's start-up messages are held back until it is
// known whether a session exists.
#include "app/session.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <cstdio>
#include <cstdlib>

namespace {

// A message held back, with what its context points at (static strings of Qt's).
struct HeldMessage {
    QtMsgType type;
    const char* file;
    int line;
    const char* function;
    const char* category;
    QString text;
};

QtMessageHandler g_previous = nullptr;
QVector<HeldMessage> g_held;

void holdOrExit(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtFatalMsg) {
        reportNoSession();
        std::_Exit(kNoSessionExitCode);
    }
    g_held.push_back({type, context.file, context.line, context.function, context.category, text});
}

} // namespace

void reportNoSession()
{
    std::fputs("quillon-fwupdate: needs a graphical session (X11 or Wayland) to show its window, "
               "and none could be opened\n",
               stderr);
}

NoSessionExit::NoSessionExit()
{
    g_previous = qInstallMessageHandler(holdOrExit);
}

NoSessionExit::~NoSessionExit()
{
    qInstallMessageHandler(g_previous);
    for (const HeldMessage& held : g_held) {
        const QMessageLogContext context(held.file, held.line, held.function, held.category);
        g_previous(held.type, context, held.text);
    }
    g_held.clear();
}
