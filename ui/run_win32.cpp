#include "ui/run_win32.h"

#include "update/driver.h"

namespace ui {

int run_update_from_dialog(update::DialogOps& ops, update::Platform& platform, update::RunState& state,
                           package::Record& pkg) {
  return update::run_update(ops, platform, state, pkg);
}

}  // namespace ui
