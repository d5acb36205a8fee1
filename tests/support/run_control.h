// How the tests start an update run. A stop or cancel during one is update::request_stop or
// update::request_cancel, from the fake host's pump or clock, as a front end's handler would.
#pragma once

#include "package/package.h"
#include "tests/support/run_fakes.h"
#include "update/platform.h"
#include "update/run.h"

namespace fakes {

// One update run with a recording observer, which gets the result as its last event.
inline update::RunResult run(const update::RunRequest& request, RecordingObserver& observer,
                             update::Platform& platform, update::RunState& state, const package::Record& pkg) {
  const update::RunResult result = update::run_update(request, observer, platform, state, pkg);
  observer.over(result);
  return result;
}

// The run under way as run_update leaves it for its steps, for tests of a step on its own.
inline void mark_run_under_way(update::RunState& state) { state.run_active = 1; }

}  // namespace fakes
