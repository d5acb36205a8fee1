// One update run, from START until the port is closed again.
#pragma once

#include "package/package.h"
#include "update/dialog_ops.h"
#include "update/platform.h"
#include "update/run_state.h"

namespace update {

// Returns 1 when the port cannot be opened, 0 in every other case.
int run_update(DialogOps& ops, Platform& platform, RunState& state, package::Record& pkg);

}  // namespace update
