#pragma once

// The check of an update set lives with the rest of the update policy, shared with the command
// line.
#include "update/update_set.h"
