// The updater's run, from the single-instance guard to the end of the event loop.
#pragma once

class QApplication;

// Runs the updater in `app`: single instance, command line, the dialog, the first scan and the
// event loop. Gives the process exit code: the event loop's, or 0 when another copy runs.
int runUpdater(QApplication& app);
