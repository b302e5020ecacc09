#pragma once

// The file-name rules live with the rest of the update policy, shared with the command line.
#include "update/update_files.h"
