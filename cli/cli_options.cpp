// The command line of quillon-fwupdate-cli.
#include "cli_options.h"

const char kCliUsage[] = R"(usage: quillon-fwupdate-cli list [--json]
       quillon-fwupdate-cli update [FOLDER] [--wait SECONDS] [--yes] [--verify] [--json]
       quillon-fwupdate-cli station [FOLDER] [--wait SECONDS] [--verify] [--json]
       quillon-fwupdate-cli history [--json]
       quillon-fwupdate-cli --help | --version

Updates the firmware of Zenta calculators in update mode, as the Quillon firmware updater's
window does, from a terminal or a script.

  list             the calculators in update mode now, and which ones an update passes over
  update [FOLDER]  writes the update in FOLDER (default: the work folder's Firmware) to every
                   calculator; Ctrl-C stops after the file being written, never within it
  station [FOLDER] updates a class set wave after wave: each wave is the calculators plugged in
                   until none has come for 5 s (16 at most; the rest go next); a calculator a
                   wave updated is not written again unless it is plugged in again later;
                   Ctrl-C between waves ends at once, during one after its file
  history          every update of this user so far, from this program and from the window

  --wait SECONDS   update: give up when no calculator is there within SECONDS (default: wait);
                   station: end after SECONDS without a new calculator
  --yes            update: start at once, without the 5-second countdown
  --verify         update, station: read every file back from every calculator and compare it
  --json           one JSON object per line instead of text

Exit codes: 0 every calculator received every file and the finish command; 1 the history
cannot be read; 2 a bad command line; 3 no complete update in the folder; 4 no calculator
(within --wait); 5 more than 16 calculators, the rest passed over; 6 another copy of the
updater runs; 130 interrupted; 104-114 the engine's code of a failure.
)";

namespace {

CliCommand commandOf(const QString& word)
{
    if (word == "list")
        return CliCommand::List;
    if (word == "update")
        return CliCommand::Update;
    if (word == "station")
        return CliCommand::Station;
    if (word == "history")
        return CliCommand::History;
    return CliCommand::None;
}

// A whole number of seconds, or a decimal one, never negative.
bool parseSeconds(const QString& text, double* seconds)
{
    bool ok = false;
    *seconds = text.toDouble(&ok);
    return ok && *seconds >= 0 && *seconds < 1e9;
}

bool takeOption(const QStringList& arguments, int* i, CliOptions* options)
{
    const QString& arg = arguments[*i];
    if (arg == "--json")
        options->json = true;
    else if (arg == "--yes" || arg == "-y")
        options->yes = true;
    else if (arg == "--verify")
        options->verify = true;
    else if (arg == "--help" || arg == "-h")
        options->command = CliCommand::Help;
    else if (arg == "--version")
        options->command = CliCommand::Version;
    else if (arg == "--wait") {
        if (*i + 1 >= arguments.size() || !parseSeconds(arguments[++*i], &options->waitSeconds)) {
            options->error = "--wait needs a number of seconds (0 or more)";
            return false;
        }
    } else {
        options->error = QString("unknown option %1").arg(arg);
        return false;
    }
    return true;
}

} // namespace

CliOptions parseCliOptions(const QStringList& arguments)
{
    CliOptions options;
    QStringList words;
    for (int i = 0; i < arguments.size(); ++i) {
        if (arguments[i].startsWith("-") && arguments[i] != "-") {
            if (!takeOption(arguments, &i, &options))
                return options;
        } else {
            words << arguments[i];
        }
    }
    if (options.command == CliCommand::Help || options.command == CliCommand::Version)
        return options;
    if (words.isEmpty()) {
        options.error = "no command given";
        return options;
    }
    const QString command = words.takeFirst();
    options.command = commandOf(command);
    const bool writes =
        options.command == CliCommand::Update || options.command == CliCommand::Station;
    const bool updateOnly = options.yes || options.verify || options.waitSeconds >= 0;
    if (options.command == CliCommand::None)
        options.error = QString("unknown command %1").arg(command);
    else if (writes && words.size() > 1)
        options.error = command + " takes one folder";
    else if (writes)
        options.folder = words.value(0);
    else if (!words.isEmpty())
        options.error = QString("unexpected %1").arg(words.first());
    else if (updateOnly)
        options.error = "--wait, --yes and --verify belong to update and station";
    if (options.command == CliCommand::Station && options.yes)
        options.error = "--yes belongs to update: a station's waves start 5 s after the last "
                        "calculator came";
    if (!options.error.isEmpty())
        options.command = CliCommand::None;
    return options;
}
