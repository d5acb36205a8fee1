// The update run as a front end sees it: what it asks for, what it is told while the run goes on,
// and the outcome that says how the run ended.
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/run_fakes.h"
#include "tests/support/scripted_printer.h"
#include "update/run.h"
#include "update/operator_text.h"

namespace {

using Events = std::vector<std::string>;
using update::Outcome;

std::unique_ptr<package::Record> make_package() { return fakes::two_block_record(4, 3); }

struct UpdateRun {
  UpdateRun() {
    printer.query_answer = fakes::query_reply("SN42;rest");
  }
  Outcome go() {
    const update::RunResult result = update::run_update(request, observer, platform, state, *pkg);
    observer.over(result);
    return result.outcome;
  }

  update::RunRequest request{"/dev/ttyUSB3", 57600, "station.log"};
  fakes::FakeHost host;
  fakes::FakePort port{host};
  fakes::ScriptedPrinter printer{port, false};
  fakes::RecordingObserver observer;
  fakes::FakePlatform platform{port, host};
  update::RunState state;
  std::unique_ptr<package::Record> pkg = make_package();
};

TEST(RunUpdate, FinishedRunTakesItsRequestAsGivenAndReportsEveryMoment) {
  UpdateRun r;
  EXPECT_EQ(r.go(), Outcome::kFinished);
  EXPECT_EQ(r.platform.opened_name, "/dev/ttyUSB3");
  EXPECT_EQ(r.platform.opened_speed, 57600u);
  EXPECT_EQ(r.platform.appended_to, "station.log");
  EXPECT_EQ(r.platform.appended, (std::vector<std::string>{"SN42;X;12/06/26 03:57:54\r\n"}));
  EXPECT_EQ(r.observer.events,
            (Events{"log Start...", "after_query", "before_transfer", "log OK", "progress 52", "progress 100",
                    "log WAIT", "log ", "log PLEASE WAIT UNTIL THE DEVICE TURNS OFF", "turning_off",
                    "log Process finished.", "log ", "end 0"}));
  // The bytes the printer acknowledged travel with each progress report.
  EXPECT_EQ(r.observer.acknowledged, (std::vector<std::uint32_t>{528, 1000}));
  EXPECT_EQ(r.observer.result.outcome, Outcome::kFinished);
  EXPECT_EQ(r.observer.result.failure.cause, update::Cause::kNone);
  EXPECT_TRUE(r.observer.result.production_log.due && r.observer.result.production_log.written);
}

// A finished update whose line cannot be written stays finished; the result says the line is not
// in the file and why, and the log says so after "Process finished.".
TEST(RunUpdate, LineThatCannotBeWrittenIsReportedNotLost) {
  UpdateRun r;
  r.platform.can_append = false;
  r.platform.append_refusal = "the disk is full";
  EXPECT_EQ(r.go(), Outcome::kFinished);
  const update::ProductionLogWrite& w = r.observer.result.production_log;
  EXPECT_TRUE(w.due);
  EXPECT_FALSE(w.written);
  EXPECT_STREQ(w.reason, "the disk is full");
  const auto& log = r.observer.log;
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[log.size() - 3], "Process finished.");
  EXPECT_EQ(log[log.size() - 2], "Production log not written: station.log (the disk is full).");
}

// The front end keeps one RunState for all its runs: a run counts only the bytes acknowledged in
// its own transfer, also when it ends early.
TEST(RunUpdate, NextRunInTheSameStateCountsOnlyItsOwnAcknowledgedBytes) {
  UpdateRun first;
  ASSERT_EQ(first.go(), Outcome::kFinished);
  ASSERT_EQ(first.state.bytes_acknowledged, 1000u);

  UpdateRun second;  // another printer; the first run's state
  second.printer.block_answer = [](std::size_t send) { return std::string(send == 0 ? "OK\r\n" : "BAD\r\n"); };
  const update::RunResult result =
      update::run_update(second.request, second.observer, second.platform, first.state, *second.pkg);
  EXPECT_EQ(result.outcome, Outcome::kBlockRefused);
  EXPECT_EQ(result.bytes_acknowledged, 528u);
  EXPECT_EQ(second.observer.acknowledged, (std::vector<std::uint32_t>{528}));
}

// The moments fall between the right bytes on the wire: the query is out (and its reply read)
// before after_query, and nothing of the entry handshake is.
TEST(RunUpdate, QueryMomentsComeBetweenTheQueryAndTheEntryFrame) {
  UpdateRun r;
  r.port.on_write = [&r, inner = r.port.on_write](const std::vector<std::uint8_t>& w) {
    r.observer.events.push_back("write");
    inner(w);
  };
  r.go();
  const Events& e = r.observer.events;
  const auto at = [&e](const std::string& what) { return std::find(e.begin(), e.end(), what) - e.begin(); };
  ASSERT_EQ(e[1], "write");  // the identification query
  EXPECT_EQ(at("after_query"), 2);
  EXPECT_EQ(at("before_transfer"), 3);
  EXPECT_EQ(e[4], "write");  // the entry frame
  EXPECT_EQ(r.printer.queries, 1);
}

TEST(RunUpdate, OutcomeNamesHowTheRunEnded) {
  struct Case {
    const char* what;
    std::function<void(UpdateRun&)> setup;
    Outcome outcome;
    const char* last_line;  // the line before the closing empty one
    const char* failure;    // where and why, in words
  } cases[] = {
      {"port cannot be opened", [](UpdateRun& r) { r.platform.can_open = false; }, Outcome::kPortNotOpened,
       "Error opening serial port.", "port not opened"},
      {"handshake unanswered", [](UpdateRun& r) { r.printer.handshake_answer.clear(); }, Outcome::kNoCommunication,
       "No communication.", "entry handshake: no reply within 5 s"},
      {"handshake refused", [](UpdateRun& r) { r.printer.handshake_answer = std::string("\x02\x23" "11" "23\n", 7); },
       Outcome::kBadReceipt, "0x02 0x23 0x31 0x31 ", "entry handshake: unexpected reply 0x02 0x23 0x31 0x31"},
      {"announce refused", [](UpdateRun& r) { r.printer.announce_answer = "NAK\r\n"; }, Outcome::kAnnounceRefused, "NAK",
       "announce line: unexpected reply \"NAK\""},
      {"block refused", [](UpdateRun& r) { r.printer.block_answer = [](std::size_t) { return std::string("BAD\r\n"); }; },
       Outcome::kBlockRefused, "BAD", "block 1 of 2: unexpected reply \"BAD\""},
      {"second block unanswered",
       [](UpdateRun& r) { r.printer.block_answer = [](std::size_t send) { return std::string(send == 1 ? "" : "OK\r\n"); }; },
       Outcome::kBlockRefused, "", "block 2 of 2: no reply within 5 s"},
      {"no closing reply", [](UpdateRun& r) { r.printer.closing_answer = "NO\r\n"; }, Outcome::kClosingRefused,
       "Bad printer response.", "closing reply: unexpected reply \"NO\""},
      {"closing reply missing", [](UpdateRun& r) { r.printer.closing_answer.clear(); }, Outcome::kClosingRefused,
       "Bad printer response.", "closing reply: no reply within 10 s"},
      {"block write fails", [](UpdateRun& r) { r.port.fail_writes_from = 3; }, Outcome::kSendFailed, "Error sending data.",
       "block 1 of 2: could not be sent"},
      // STOP between the blocks.
      {"stopped in the transfer",
       [](UpdateRun& r) {
         r.host.on_pump = [&r] { update::request_stop(r.state); };
       },
       Outcome::kStopped, "Process stopped.", "stopped at block 2 of 2"},
      // STOP while the query waits: the handshake still goes out, finds the stop request raised,
      // and fails; the run was stopped all the same.
      {"stopped during the query",
       [](UpdateRun& r) {
         r.printer.query_answer.clear();
         r.printer.handshake_answer.clear();
         r.host.on_pump = [&r] { update::request_stop(r.state); };
       },
       Outcome::kStopped, "No communication.", "stopped during the identification query"},
      // Cancel while the query waits: the run goes on up to the first block.
      {"cancelled during the query",
       [](UpdateRun& r) {
         r.printer.query_answer.clear();
         r.host.on_pump = [&r] { update::request_cancel(r.state); };
       },
       Outcome::kStopped, "Process stopped.", "stopped at block 1 of 2"},
  };
  for (const Case& c : cases) {
    UpdateRun r;
    c.setup(r);
    EXPECT_EQ(r.go(), c.outcome) << c.what;
    EXPECT_EQ(r.observer.ends, 1) << c.what;
    EXPECT_EQ(r.observer.outcome, c.outcome) << c.what;
    char words[update::kFailureTextSize];
    update::describe_failure(r.observer.result.failure, words, sizeof words);
    EXPECT_STREQ(words, c.failure) << c.what;
    EXPECT_FALSE(r.observer.result.production_log.due) << c.what;
    EXPECT_TRUE(r.platform.appended.empty()) << c.what;
    const auto& log = r.observer.log;
    if (c.outcome == Outcome::kPortNotOpened) {
      EXPECT_EQ(log.back(), c.last_line) << c.what;
      EXPECT_EQ(std::count(r.observer.events.begin(), r.observer.events.end(), "after_query"), 0) << c.what;
    } else {
      ASSERT_GE(log.size(), 2u) << c.what;
      EXPECT_EQ(log[log.size() - 2], c.last_line) << c.what;
      EXPECT_EQ(log.back(), "") << c.what;
      EXPECT_EQ(r.port.closes, 1) << c.what;
    }
  }
}

}  // namespace
