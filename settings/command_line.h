// What the command line asks for: an update folder and a language number, the station that
// updates calculators wave after wave, or only the usage or the version printed.
#pragma once

#include <QString>
#include <QStringList>

// The two optional arguments: the update folder and the language number.
struct CommandLine {
    QString updateFolder; // empty: the dialog takes folder and language from the settings
    int language = 1;
    bool station = false; // one wave after another, until the window is closed
};

// `arguments` as QCoreApplication gives them, the program first. "--station" as the first
// argument asks for the station; after it (or without it) only exactly two arguments count, and
// any other number is ignored. A language that is no base-10 integer reads as 0.
CommandLine parseCommandLine(const QStringList& arguments);

// What a start asks for: the updater's window, or only its usage or version printed.
enum class StartRequest { Update, Usage, Version };

// `arguments` as the process got them, the program first. "--help" (or "-h") or "--version"
// alone asks for the usage or the version; every other command line runs the updater.
StartRequest startRequest(const QStringList& arguments);

// The text that --help prints.
extern const char kUsageText[];
