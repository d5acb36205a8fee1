// The update run as the dialog starts it. zorven.exe links ui/run_win32.cpp, which hands the
// request, the dialog's observer and the platform to the update driver as they are; a measuring
// build of the same dialog links its own definition instead.
#pragma once

#include "package/package.h"
#include "update/run.h"
#include "update/platform.h"

namespace ui {

update::RunResult run_update_from_dialog(const update::RunRequest& request, update::RunObserver& observer,
                                         update::Platform& platform, update::RunState& state,
                                         const package::Record& pkg);

}  // namespace ui
