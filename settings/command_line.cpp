// The command line: --station first, an update folder and a language number together, or
// --help and --version.
#include "settings/command_line.h"

CommandLine parseCommandLine(const QStringList& arguments)
{
    CommandLine line;
    QStringList rest = arguments.mid(1);
    line.station = !rest.isEmpty() && rest.first() == QLatin1String("--station");
    if (line.station)
        rest.removeFirst();
    if (rest.size() != 2)
        return line;
    line.updateFolder = rest.at(0);
    bool ok = false;
    const int language = rest.at(1).toInt(&ok, 10);
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
    "Usage: quillon-fwupdate [--station] [FOLDER LANGUAGE]\n"
    "Installs a firmware update on every Zenta calculator in update mode that is plugged in.\n"
    "\n"
    "  --station  keep updating: each group of calculators plugged in is updated in a wave\n"
    "             of its own, until the window is closed between two waves\n"
    "  FOLDER     the folder that holds the update's three files\n"
    "  LANGUAGE   the window's language: 1 English, 2 Chinese, 3 French, 4 German,\n"
    "             5 Spanish, 6 Dutch, 7 Portuguese, 8 Japanese\n"
    "  --help     print this text\n"
    "  --version  print the version\n"
    "\n"
    "Without both FOLDER and LANGUAGE the folder and the language come from the Quillon\n"
    "suite's settings; any other number of arguments is ignored. --station goes first.\n"
    "One copy runs at a time: a second start ends at once.\n"
    "\n"
    "Exit codes: 0 when the update is done or the window is closed, and for a second copy;\n"
    "1 without a graphical session to show the window in.\n";
