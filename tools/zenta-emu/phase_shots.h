// Picking and saving one picture of the window for each phase of an update.
#pragma once

#include "window_log.h"

#include <map>
#include <string>
#include <vector>

// The pictures that show each phase of an update: waiting for the calculator, the countdown,
// a transfer under way, and the end. Chosen by the window's shape rather than its words, so
// that it works in every language: the countdown is the button that counts ("... - 3"), the
// waiting comes before it with a message over the file's path, a transfer has a progress bar
// between its ends, and the end is the last picture.
std::map<std::string, QString> PickPhaseShots(const std::vector<WindowLook>& looks);

// Copies the chosen pictures from `from` into `to` as waiting.png, countdown.png, transfer.png
// and done.png; gives the names of the phases it had no picture for.
std::vector<std::string> SavePhaseShots(const std::vector<WindowLook>& looks,
                                        const std::string& from, const std::string& to);
