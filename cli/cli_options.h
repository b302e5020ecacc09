#pragma once

#include <QString>
#include <QStringList>

// The command line of quillon-fwupdate-cli and its exit codes.

enum CliExit : int {
    kExitOk = 0,           // every calculator received every file (list: one or more found)
    kExitError = 1,        // the history cannot be read
    kExitUsage = 2,        // unknown command or option, or a bad value
    kExitNoUpdate = 3,     // the folder holds no complete update
    kExitNoCalculator = 4, // no calculator within --wait (list: none present)
    kExitPassedOver = 5,   // more calculators than one update writes: the rest were passed over
    kExitBusy = 6,         // another copy of the updater (window or command line) is running
    kExitInterrupted = 130 // stopped by Ctrl-C before every file was written
    // A failed file ends with the engine's code of the first calculator that failed it (104 to
    // 113), a set refused before its first byte with the refusing code (105, 109, 110, 111).
};

enum class CliCommand { None, List, Update, Station, History, Help, Version };

struct CliOptions {
    CliCommand command = CliCommand::None;
    QString folder; // update, station: empty for the suite's work folder
    // update: give up without a calculator after this; station: end after this without a new
    // one. < 0 waits for ever.
    double waitSeconds = -1;
    bool yes = false; // update: no countdown
    bool json = false;
    bool verify = false; // update, station: read every file back
    QString error;       // why the command line was refused
};

// `arguments` without the program. The command comes first; options may come anywhere.
CliOptions parseCliOptions(const QStringList& arguments);

extern const char kCliUsage[];
