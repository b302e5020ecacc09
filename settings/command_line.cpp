// The command line: an update folder and a language number together, or --help and --version.
#include "settings/command_line.h"

CommandLine parseCommandLine(const QStringList& arguments)
{
    CommandLine line;
    if (arguments.size() != 3)
        return line;
    line.updateFolder = arguments.at(1);
    bool ok = false;
    const int language = arguments.at(2).toInt(&ok, 10);
    line.language = ok ? language : 0;
    return line;
}

StartRequest startRequest(const QStringList& arguments)
{
    if (arguments.size() != 2)
        return StartRequest::Update;
    const QString& only = arguments.at(1);
    if (only == QLatin1String("--help") || only == QLatin1String("-h"))
        return StartRequest::Usage;
    if (only == QLatin1String("--version"))
        return StartRequest::Version;
    return StartRequest::Update;
}

const char kUsageText[] =
    "Usage: quillon-fwupdate [FOLDER LANGUAGE]\n"
    "Installs a firmware update on every Zenta calculator in update mode that is plugged in.\n"
    "\n"
    "  FOLDER     the folder that holds the update's three files\n"
    "  LANGUAGE   the window's language: 1 English, 2 Chinese, 3 French, 4 German,\n"
    "             5 Spanish, 6 Dutch, 7 Portuguese, 8 Japanese\n"
    "  --help     print this text\n"
    "  --version  print the version\n"
    "\n"
    "Without both FOLDER and LANGUAGE the folder and the language come from the Quillon\n"
    "suite's settings; any other number of arguments is ignored. One copy runs at a time:\n"
    "a second start ends at once.\n"
    "\n"
    "Exit codes: 0 when the update is done or the window is closed, and for a second copy;\n"
    "1 without a graphical session to show the window in.\n";
