#pragma once

#include <atomic>

// Ctrl-C for the command-line updater: counted, never acted on in the signal handler. The update
// looks at the count between its steps, so that a file being written is never cut.
void catchInterrupts();
int interruptCount();
// True from the first Ctrl-C on, for a long step that looks at it as it goes (the set's check).
const std::atomic<bool>& interruptRequested();
