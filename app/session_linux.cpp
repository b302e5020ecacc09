// Whether a window can be shown on Linux: a platform given on the command line, or a display.
#include "app/session.h"

#include <QtGlobal>
#include <cstring>

bool hasGraphicalSession(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true; // Qt is told where to show the window
    }
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}
