// Whether there is a graphical session to show the window in, and the plain exit of a start
// that has none.
#pragma once

// The exit code of a start that has no graphical session to show its window in.
constexpr int kNoSessionExitCode = 1;

// False when it is plain before Qt starts that no window can be shown (on Linux: none of
// DISPLAY, WAYLAND_DISPLAY, QT_QPA_PLATFORM is set, nor Qt's -platform argument given).
bool hasGraphicalSession(int argc, char** argv);

// Prints the one line that says the program needs a graphical session.
void reportNoSession();

// Held while the QApplication is made. Should Qt find no display it can open, the process
// says so in one line and ends with kNoSessionExitCode, where Qt would abort with a core and
// advise reinstalling. Qt's messages meanwhile are held back, and passed on once it has started.
class NoSessionExit {
public:
    NoSessionExit();
    ~NoSessionExit();
    NoSessionExit(const NoSessionExit&) = delete;
    NoSessionExit& operator=(const NoSessionExit&) = delete;
};
