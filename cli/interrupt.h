#pragma once

// Ctrl-C for the command-line updater: counted, never acted on in the signal handler. The update
// looks at the count between its steps, so that a file being written is never cut.
void catchInterrupts();
int interruptCount();
