// The update set check, which lives in update/ with the rest of the update policy, under the
// worker's old header name; the engine's forwarded callbacks come with it.
#pragma once

// The check of an update set lives with the rest of the update policy, shared with the command
// line.
#include "update/update_set.h"
