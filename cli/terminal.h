#pragma once

// True when standard output is a terminal, which gets live lines instead of one per event.
bool stdoutIsTerminal();
