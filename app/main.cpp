#include "app/startup.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // Lets Wayland desktops tie the window to its installed desktop entry and icon.
    QGuiApplication::setDesktopFileName("example.kz.QuillonFirmwareUpdater");
    return runUpdater(app);
}
