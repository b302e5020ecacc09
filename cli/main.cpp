// quillon-fwupdate-cli: the firmware updater for the command line and for scripts.
#include "cli_options.h"
#include "cli_report.h"
#include "cli_station.h"
#include "cli_update.h"
#include "interrupt.h"
#include "terminal.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextCodec>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // An argument the system's encoding cannot carry would name another path than the one given
    // (a folder would then read as missing): it is refused as what it is.
    for (int i = 1; i < argc; ++i) {
        const QByteArray given(argv[i]);
        if (QFile::encodeName(QFile::decodeName(given)) != given) {
            std::fprintf(stderr, "quillon-fwupdate-cli: argument %d is not valid %s\n%s", i,
                         QTextCodec::codecForLocale()->name().constData(), kCliUsage);
            return kExitUsage;
        }
    }
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
    switch (options.command) {
    case CliCommand::List:
        return runList(report);
    case CliCommand::Station:
        return runStation(options, report);
    default:
        return runUpdate(options, report);
    }
}
