// What the update dialog adds to a run: its observer turns the run's reports and moments into
// the dialog's controls (log list, progress bar, repaints, the controls and START/STOP, focus, the
// error box). What the run itself does is tested with the driver (tests/update/driver_test.cpp).
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/dialog_fakes.h"
#include "tests/support/expected_log.h"
#include "tests/support/records.h"
#include "tests/support/run_control.h"
#include "tests/support/run_fakes.h"
#include "tests/support/scripted_printer.h"
#include "ui/dialog_observer.h"
#include "update/operator_text.h"
#include "update/production_log.h"

namespace {

using Events = std::vector<std::string>;

update::RunResult ended(update::Outcome outcome) {
  update::RunResult r;
  r.outcome = outcome;
  return r;
}

// Each of the observer's calls on its own, in the order a run makes them.
TEST(DialogObserver, EachCallDrivesItsControls) {
  fakes::RecordingOps ops;
  ui::DialogObserver observer(ops);
  const auto step = [&ops](auto call, const Events& expected, const char* what) {
    ops.events.clear();
    call();
    EXPECT_EQ(ops.events, expected) << what;
  };
  update::RunObserver& run = observer;
  step([&] { run.log_line("Start..."); }, {"log Start..."}, "a log line");
  step([&] { run.log_line(""); }, {"log "}, "an empty line");
  step([&] { run.log_line(nullptr); }, {"log "}, "a null text");
  step([&] { run.after_query(); }, {"disable", "focus"}, "query done: controls off, START reads STOP, focus kept");
  step([&] { run.before_transfer(); }, {"repaint", "repaint"}, "before the transfer");
  // The bar shows the percent, not the bytes acknowledged.
  step([&] { run.progress(52, 528); }, {"progress 52"}, "progress");
  step([&] { run.block_answered(true); }, {}, "a verdict");
  step([&] { run.printer_turning_off(); }, {"repaint"}, "the printer turns off");
  step([&] { observer.run_over(ended(update::Outcome::kFinished)); }, {"set_focus", "enable"}, "the end");
  EXPECT_EQ(ops.focused_back, ops.focused);
}

// Every end but an unopened port gives back the focus the query's end took; an unopened port never
// took it and shows the dialog's error box instead.
TEST(DialogObserver, EndGivesTheFocusBackOrShowsTheErrorBox) {
  const update::Outcome outcomes[] = {update::Outcome::kFinished, update::Outcome::kNoCommunication,
                                      update::Outcome::kBlockRefused, update::Outcome::kStopped,
                                      update::Outcome::kPortNotOpened};
  for (update::Outcome outcome : outcomes) {
    SCOPED_TRACE(static_cast<int>(outcome));
    fakes::RecordingOps ops;
    ui::DialogObserver observer(ops);
    if (outcome != update::Outcome::kPortNotOpened) observer.after_query();
    ops.events.clear();
    observer.run_over(ended(outcome));
    if (outcome == update::Outcome::kPortNotOpened) {
      EXPECT_EQ(ops.events, (Events{std::string("error_box ") + update::kPortErrorText, "enable"}));
      EXPECT_EQ(ops.focused_back, nullptr);
    } else {
      EXPECT_EQ(ops.events, (Events{"set_focus", "enable"}));
      EXPECT_EQ(ops.focused_back, ops.focused);
    }
  }
}

// A run behind the dialog's observer, against a printer that has to be switched into update mode.
struct DialogRun {
  DialogRun() { printer.query_answer = fakes::query_reply("A1B2C3;rest"); }
  // As the dialog's START: the run, then the dialog takes its result.
  update::RunResult go() {
    const update::RunResult result = update::run_update(request, observer, platform, state, *pkg);
    observer.run_over(result);
    return result;
  }

  const update::RunRequest request{"COM5", 9600, update::kProductionLogFile};
  fakes::FakeHost host;
  fakes::FakePort port{host};
  fakes::ScriptedPrinter printer{port, false};
  fakes::RecordingOps ops;
  ui::DialogObserver observer{ops};
  fakes::FakePlatform platform{port, host};
  update::RunState state;
  std::unique_ptr<package::Record> pkg = fakes::RecordBuilder().build();
};

// A whole run as the dialog shows it: controls go off once the query is done and the focus is
// remembered then, the log list is repainted before the transfer and when the printer turns off,
// and focus and controls come back at the end.
TEST(DialogRunShown, FinishedRunInTheLogListBarAndControls) {
  DialogRun d;
  ASSERT_EQ(d.go().outcome, update::Outcome::kFinished);
  const fakes::Log log = fakes::finished_run_log();
  EXPECT_EQ(d.ops.log, log);
  const auto l = [&log](std::size_t i) { return "log " + log[i]; };
  EXPECT_EQ(d.ops.events, (Events{l(0), "disable", "focus", "repaint", "repaint", l(1), "progress 52", "progress 100",
                                  l(2), l(3), l(4), "repaint", l(5), l(6), "set_focus", "enable"}));
  EXPECT_EQ(d.ops.progress, (std::vector<std::uint32_t>{52, 100}));
  EXPECT_EQ(d.ops.focused_back, d.ops.focused);
}

// The port that cannot be opened: no controls were turned off, the error box comes after the log
// line, then the controls are enabled again.
TEST(DialogRunShown, UnopenedPortShowsTheErrorBox) {
  DialogRun d;
  d.platform.can_open = false;
  ASSERT_EQ(d.go().outcome, update::Outcome::kPortNotOpened);
  EXPECT_EQ(d.ops.log, fakes::unopened_run_log());
  EXPECT_EQ(d.ops.events, (Events{"log Start...", "log Error opening serial port.",
                                  "error_box Error opening serial port.", "enable"}));
}

// A production log line that cannot be written does not undo the update, but the operator is
// told, in one line of the log list after "Process finished." that names the file and the reason;
// nothing else of what the dialog shows changes.
TEST(DialogRunShown, UnwritableProductionLogIsToldInOneLine) {
  DialogRun d;
  d.platform.can_append = false;
  ASSERT_EQ(d.go().outcome, update::Outcome::kFinished);
  const std::string told = "Production log not written: sn_build.txt (the file is in use by another program).";
  EXPECT_EQ(d.ops.log, fakes::finished_run_log(0, {told}));
  EXPECT_EQ(std::count(d.ops.events.begin(), d.ops.events.end(), "log " + told), 1);
  EXPECT_EQ(d.ops.events.back(), "enable");
  EXPECT_EQ(d.ops.focused_back, d.ops.focused);
}

}  // namespace
