#include "app/command_line.h"

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
