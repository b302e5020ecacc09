#pragma once

// How an update goes on after a failed file, the same for the window and the command line.

// Retries of a file after its first failed transfer: a file is tried at most 6 times.
constexpr int kRetries = 5;
// The pause before each retry, in milliseconds.
constexpr int kRetryPauseMs = 3000;
