#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/dialog_fakes.h"
#include "tests/support/run_fakes.h"
#include "tests/support/scripted_printer.h"
#include "ui/dialog_observer.h"
#include "ui/dialog_text.h"
#include "update/run.h"
#include "update/production_log.h"

// The update run as the dialog sees it: the driver behind the dialog's observer, with the request
// the dialog makes from its port text and the speed list's selection.
namespace {

using Log = std::vector<std::string>;

std::unique_ptr<package::Record> make_package(std::uint8_t variant = 4) { return fakes::two_block_record(variant, 7); }

// One run against a printer that has to be switched into update mode first.
struct Bench {
  Bench() {
    printer.query_answer = fakes::query_reply("A1B2C3;rest");
    port.on_write = [this, inner = port.on_write](const std::vector<std::uint8_t>& w) {
      write_times.push_back(host.t);
      inner(w);
    };
  }
  // What the START handler does with run update's outcome: 1 ends the dialog.
  int run() {
    const update::RunRequest request{port_name.c_str(), ui::speed_at(speed), update::kProductionLogFile};
    const update::RunResult result = update::run_update(request, observer, platform, state, *pkg);
    observer.run_over(result);
    return result.outcome == update::Outcome::kPortNotOpened ? 1 : 0;
  }

  std::string port_name = "COM5";  // the port combo's text
  int speed = 0;                   // the speed combo's selected index
  fakes::FakeHost host;
  fakes::FakePort port{host};
  fakes::ScriptedPrinter printer{port, false};
  fakes::RecordingOps ops;
  ui::DialogObserver observer{ops};
  fakes::FakePlatform platform{port, host};
  update::RunState state;
  std::unique_ptr<package::Record> pkg = make_package();
  std::vector<std::int64_t> write_times;  // calendar second of each write
};

TEST(DialogRun, SuccessfulRunLogsRecordsAndHandsTheDialogBack) {
  Bench b;
  b.port_name = "COM7";
  b.speed = 4;
  EXPECT_EQ(b.run(), 0);

  EXPECT_EQ(b.platform.opened_name, "COM7");
  EXPECT_EQ(b.platform.opened_speed, 115200u);
  EXPECT_EQ(b.printer.queries, 1);
  ASSERT_EQ(b.printer.frames.size(), 1u);
  EXPECT_EQ(b.printer.frames[0].size(), 13u);  // the common entry frame
  EXPECT_EQ(b.printer.accepted, 1000u);
  EXPECT_EQ(b.port.closes, 1);

  EXPECT_EQ(b.ops.log, (Log{"Start...", "OK", "WAIT", "", "PLEASE WAIT UNTIL THE DEVICE TURNS OFF",
                            "Process finished.", ""}));
  // Controls go off once the query is done, focus is remembered then, and both come back at the end.
  const std::vector<std::string> expected_events = {
      "log Start...", "disable", "focus", "repaint", "repaint", "log OK", "progress 52", "progress 100",
      "log WAIT", "log ", "log PLEASE WAIT UNTIL THE DEVICE TURNS OFF", "repaint", "log Process finished.",
      "log ", "set_focus", "enable"};
  EXPECT_EQ(b.ops.events, expected_events);
  EXPECT_EQ(b.ops.focused_back, b.ops.focused);

  EXPECT_EQ(b.platform.appended_to, "sn_build.txt");
  EXPECT_EQ(b.platform.appended, (std::vector<std::string>{"A1B2C3;X;12/06/26 03:57:54\r\n"}));
  EXPECT_EQ(b.state.stop_request, 0u);
}

TEST(DialogRun, UnansweredQueryWaitsOneSecondAndLeavesTheSerialFieldEmpty) {
  Bench b;
  b.printer.query_answer.clear();
  b.state.reply_timeout = 5;
  EXPECT_EQ(b.run(), 0);
  ASSERT_GE(b.write_times.size(), 2u);
  EXPECT_LE(b.write_times[1] - b.write_times[0], 2);  // query at 1 s, not the 5 s before it
  EXPECT_EQ(b.ops.log[b.ops.log.size() - 2], "Process finished.");
  EXPECT_EQ(b.platform.appended, (std::vector<std::string>{";X;12/06/26 03:57:54\r\n"}));
}

TEST(DialogRun, SpeedComesFromTheSelectedEntryOr9600) {
  struct Case {
    int index;
    std::uint32_t speed;
  } cases[] = {{-1, 9600}, {0, 9600}, {2, 38400}, {4, 115200}, {5, 9600}};
  for (const Case& c : cases) {
    Bench b;
    b.speed = c.index;
    b.run();
    EXPECT_EQ(b.platform.opened_speed, c.speed) << c.index;
  }
}

struct Failure {
  const char* what;
  std::function<void(Bench&)> setup;
  int result;
  Log log;
};

TEST(DialogRun, FailuresEndTheRunWithoutAProductionLine) {
  const Failure cases[] = {
      {"port cannot be opened", [](Bench& b) { b.platform.can_open = false; }, 1,
       {"Start...", "Error opening serial port."}},
      {"handshake unanswered", [](Bench& b) { b.printer.handshake_answer.clear(); }, 0,
       {"Start...", "No communication.", ""}},
      {"handshake cut short",
       [](Bench& b) { b.printer.handshake_answer = std::string("\x06\x30\x31", 3); }, 0,
       {"Start...", "Bad Receipt: ", "0x06 0x30 0x31 ", ""}},
      {"handshake cut short, bytes above 9",
       [](Bench& b) { b.printer.handshake_answer = std::string("\xAB\x0F\xFF", 3); }, 0,
       {"Start...", "Bad Receipt: ", "0xAB 0x0F 0xFF ", ""}},
      {"handshake refused",
       [](Bench& b) { b.printer.handshake_answer = std::string("\x02\x00\x30\x31\x00\x00\n", 7); }, 0,
       {"Start...", "Bad Receipt: ", "0x02 0x00 0x30 0x31 ", ""}},
      {"variant without a handshake", [](Bench& b) { b.pkg->variant = 5; }, 0,
       {"Start...", "No communication.", ""}},
      {"transfer fails", [](Bench& b) { b.printer.announce_answer = "NAK\r\n"; }, 0,
       {"Start...", "Bad printer response or timeout.", "NAK", ""}},
  };
  for (const Failure& c : cases) {
    Bench b;
    c.setup(b);
    EXPECT_EQ(b.run(), c.result) << c.what;
    EXPECT_EQ(b.ops.log, c.log) << c.what;
    EXPECT_TRUE(b.platform.appended.empty()) << c.what;
    EXPECT_EQ(b.ops.events.back(), "enable") << c.what;
    if (c.result == 1) {
      EXPECT_EQ(b.ops.events[b.ops.events.size() - 2], "error_box Error opening serial port.") << c.what;
      EXPECT_TRUE(b.port.writes.empty()) << c.what;
    } else {
      EXPECT_EQ(b.state.stop_request, 1u) << c.what;
      EXPECT_EQ(b.port.closes, 1) << c.what;
      EXPECT_EQ(b.ops.focused_back, b.ops.focused) << c.what;
    }
  }
}

// The run gives the reply to the entry frame and each block's verdict 5 seconds, whatever reply
// timeout it starts with (the first run of a dialog starts with 5, every later one with the 10 the
// closing reply of the one before left).
TEST(DialogRun, EntryReplyAndBlockVerdictsHaveFiveSeconds) {
  const Log finished = {"Start...", "OK", "WAIT", "", "PLEASE WAIT UNTIL THE DEVICE TURNS OFF",
                        "Process finished.", ""};
  struct Case {
    const char* what;
    int handshake_delay;
    int block_delay;
    std::int32_t timeout_before;
    Log log;
  } cases[] = {
      {"entry reply after 3 s", 3, 0, 5, finished},
      {"entry reply after 4 s in a later run", 4, 0, 10, finished},
      {"every verdict after 4 s", 0, 4, 5, finished},
      // Five idle seconds end the wait: a reply in the sixth comes too late.
      {"entry reply after 5 s", 5, 0, 10, {"Start...", "No communication.", ""}},
      {"first verdict after 5 s", 0, 5, 10, {"Start...", "OK", "", ""}},
  };
  for (const Case& c : cases) {
    Bench b;
    b.state.reply_timeout = c.timeout_before;
    b.printer.handshake_delay = c.handshake_delay;
    b.printer.block_delay = c.block_delay;
    EXPECT_EQ(b.run(), 0) << c.what;
    EXPECT_EQ(b.ops.log, c.log) << c.what;
    EXPECT_EQ(b.platform.appended.size(), c.log == finished ? 1u : 0u) << c.what;
  }
}

TEST(DialogRun, StopDuringTheQueryStillSendsTheEntryFrame) {
  Bench b;
  b.printer.query_answer.clear();
  b.printer.handshake_answer.clear();
  b.host.on_pump = [&b] { update::request_stop(b.state); };
  EXPECT_EQ(b.run(), 0);
  ASSERT_EQ(b.printer.frames.size(), 1u);
  EXPECT_EQ(b.printer.frames[0].size(), 13u);
  EXPECT_TRUE(b.printer.announce.empty());
  EXPECT_EQ(b.ops.log, (Log{"Start...", "No communication.", ""}));
  EXPECT_TRUE(b.platform.appended.empty());
}

// A production log line that cannot be written does not undo the update, but the operator is
// told, in one line after "Process finished." that names the file and the reason; nothing else
// of the run changes.
TEST(DialogRun, UnwritableProductionLogIsToldInOneLine) {
  Bench b;
  b.platform.can_append = false;
  EXPECT_EQ(b.run(), 0);
  EXPECT_EQ(b.ops.log, (Log{"Start...", "OK", "WAIT", "", "PLEASE WAIT UNTIL THE DEVICE TURNS OFF",
                            "Process finished.",
                            "Production log not written: sn_build.txt (the file is in use by another program).", ""}));
  EXPECT_EQ(b.state.stop_request, 0u);
}

}  // namespace
