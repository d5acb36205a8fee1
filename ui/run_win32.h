// The update run as the dialog starts it. zorven.exe links ui/run_win32.cpp, which hands the
// dialog's operations and the platform to the update driver as they are; a measuring build of
// the same dialog links its own definition instead.
#pragma once

#include "package/package.h"
#include "update/dialog_ops.h"
#include "update/platform.h"
#include "update/run_state.h"

namespace ui {

int run_update_from_dialog(update::DialogOps& ops, update::Platform& platform, update::RunState& state,
                           package::Record& pkg);

}  // namespace ui
