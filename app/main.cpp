// Process entry: usage and version without a window, a plain exit without a graphical
// session, and otherwise the updater itself.
#include "app/session.h"
#include "app/startup.h"
#include "settings/command_line.h"

#include <QApplication>
#include <cstdio>
#include <optional>

int main(int argc, char** argv)
{
    // Usage and version need no window, nor a session to show one in.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    switch (startRequest(arguments)) {
    case StartRequest::Usage:
        std::fputs(kUsageText, stdout);
        return 0;
    case StartRequest::Version:
        std::puts("quillon-fwupdate " QUILLON_VERSION);
        return 0;
    case StartRequest::Update:
        break;
    }
    if (!hasGraphicalSession(argc, argv)) {
        reportNoSession();
        return kNoSessionExitCode;
    }
    std::optional<NoSessionExit> noSession(std::in_place);
    QApplication app(argc, argv);
    noSession.reset();
    // Lets Wayland desktops tie the window to its installed desktop entry and icon.
    QGuiApplication::setDesktopFileName("example.kz.QuillonFirmwareUpdater");
    return runUpdater(app);
}
