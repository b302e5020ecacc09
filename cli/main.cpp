// quillon-fwupdate-cli: the firmware updater for the command line and for scripts.
#include "cli_options.h"
#include "cli_report.h"
#include "cli_update.h"
#include "interrupt.h"
#include "terminal.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const CliOptions options = parseCliOptions(app.arguments().mid(1));
    switch (options.command) {
    case CliCommand::None:
        std::fprintf(stderr, "quillon-fwupdate-cli: %s\n%s", qPrintable(options.error), kCliUsage);
        return kExitUsage;
    case CliCommand::Help:
        std::fputs(kCliUsage, stdout);
        return kExitOk;
    case CliCommand::Version:
        std::printf("quillon-fwupdate-cli %s\n", QUILLON_VERSION);
        return kExitOk;
    case CliCommand::History:
        return runHistory(options.json);
    default:
        break;
    }
    catchInterrupts();
    CliReport report(options.json         ? CliReport::Mode::Json
                     : stdoutIsTerminal() ? CliReport::Mode::Terminal
                                          : CliReport::Mode::Lines);
    return options.command == CliCommand::List ? runList(report) : runUpdate(options, report);
}
