// How every test starts an update run and presses STOP or Cancel during one: through these few
// functions only, so that the way a front end drives a run is written down once for the tests.
#pragma once

#include "package/package.h"
#include "update/driver.h"
#include "update/platform.h"
#include "update/run_observer.h"
#include "update/run_state.h"

namespace fakes {

namespace detail {

// Passes every report on to the test's observer and keeps the result the run ends with.
class ResultKeeper final : public update::RunObserver {
 public:
  explicit ResultKeeper(update::RunObserver& inner) : inner_(inner) {}
  void log_line(const char* text) override { inner_.log_line(text); }
  void progress(std::uint32_t position, std::uint32_t bytes_acknowledged) override {
    inner_.progress(position, bytes_acknowledged);
  }
  void block_answered(bool retry) override { inner_.block_answered(retry); }
  void after_query() override { inner_.after_query(); }
  void before_transfer() override { inner_.before_transfer(); }
  void printer_turning_off() override { inner_.printer_turning_off(); }
  void at_end(const update::RunResult& result) override {
    kept = result;
    inner_.at_end(result);
  }

  update::RunResult kept;

 private:
  update::RunObserver& inner_;
};

}  // namespace detail

// One update run as a front end starts it; the result is the one the run ended with.
inline update::RunResult run(const update::RunRequest& request, update::RunObserver& observer,
                             update::Platform& platform, update::RunState& state, package::Record& pkg) {
  detail::ResultKeeper keeper(observer);
  state.run_active = 1;  // the front end sets it before it calls the driver
  keeper.kept.outcome = update::run_update(request, keeper, platform, state, pkg);
  return keeper.kept;
}

// STOP (or Ctrl-C): the run stops at its next look at the flags.
inline void press_stop(update::RunState& state) {
  state.run_active = 0;
  state.stop_request = 1;
}

// Cancel, which reaches a run only while the identification query waits: the run goes on up to
// its first block, and counts as stopped.
inline void press_cancel(update::RunState& state) { state.run_active = 0; }

// The run under way as run_update leaves it for its steps, for tests of a step on its own.
inline void mark_run_under_way(update::RunState& state) { state.run_active = 1; }

}  // namespace fakes
