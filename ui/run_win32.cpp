#include "ui/run_win32.h"

namespace ui {

update::RunResult run_update_from_dialog(const update::RunRequest& request, update::RunObserver& observer,
                                         update::Platform& platform, update::RunState& state,
                                         const package::Record& pkg) {
  return update::run_update(request, observer, platform, state, pkg);
}

}  // namespace ui
