// Whether standard output is a terminal.
#include "terminal.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

bool stdoutIsTerminal()
{
    return isatty(fileno(stdout)) != 0;
}
