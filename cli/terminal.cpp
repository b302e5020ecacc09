// Whether standard output is a terminal that takes the escape sequences of the live lines.
#include "terminal.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#include <windows.h>

// A console takes the sequences once asked to (Windows 10 and later); an older one is treated as
// no terminal and gets one line per event.
bool stdoutIsTerminal()
{
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (_isatty(_fileno(stdout)) == 0 || !GetConsoleMode(out, &mode))
        return false;
    return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}
#else
#include <unistd.h>

bool stdoutIsTerminal()
{
    return isatty(fileno(stdout)) != 0;
}
#endif
