// The update run as a front end sees it: what it asks for, what it is told while the run goes on,
// and the outcome that says how the run ended.
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/expected_log.h"
#include "tests/support/records.h"
#include "tests/support/run_control.h"
#include "tests/support/run_fakes.h"
#include "tests/support/scripted_printer.h"
#include "update/run.h"
#include "update/operator_text.h"

namespace {

using Events = std::vector<std::string>;
using fakes::Log;
using update::Outcome;

struct UpdateRun {
  UpdateRun() { printer.query_answer = fakes::query_reply("SN42;rest"); }
  update::RunResult go() { return fakes::run(request, observer, platform, state, *pkg); }

  update::RunRequest request{"/dev/ttyUSB3", 57600, "station.log"};
  fakes::FakeHost host;
  fakes::FakePort port{host};
  fakes::ScriptedPrinter printer{port, false};
  fakes::RecordingObserver observer;
  fakes::FakePlatform platform{port, host};
  update::RunState state;
  std::unique_ptr<package::Record> pkg = fakes::RecordBuilder().build();
};

TEST(RunUpdate, FinishedRunTakesItsRequestAsGivenAndReportsEveryMoment) {
  UpdateRun r;
  EXPECT_EQ(r.go().outcome, Outcome::kFinished);
  EXPECT_EQ(r.platform.opened_name, "/dev/ttyUSB3");
  EXPECT_EQ(r.platform.opened_speed, 57600u);
  EXPECT_EQ(r.platform.appended_to, "station.log");
  EXPECT_EQ(r.platform.appended, (std::vector<std::string>{"SN42;X;12/06/26 03:57:54\r\n"}));
  // What the printer saw: one query, the common entry frame, the whole image; then the port closed.
  EXPECT_EQ(r.printer.queries, 1);
  ASSERT_EQ(r.printer.frames.size(), 1u);
  EXPECT_EQ(r.printer.frames[0].size(), 13u);
  EXPECT_EQ(r.printer.accepted, 1000u);
  EXPECT_EQ(r.port.closes, 1);
  EXPECT_EQ(r.state.stop_request, 0u);
  const Log log = fakes::finished_run_log();
  ASSERT_EQ(r.observer.log, log);
  const auto l = [&log](std::size_t i) { return "log " + log[i]; };
  EXPECT_EQ(r.observer.events, (Events{l(0), "after_query", "before_transfer", l(1), "progress 52", "progress 100",
                                       l(2), l(3), l(4), "turning_off", l(5), l(6), "end 0"}));
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
  EXPECT_EQ(r.go().outcome, Outcome::kFinished);
  const update::ProductionLogWrite& w = r.observer.result.production_log;
  EXPECT_TRUE(w.due);
  EXPECT_FALSE(w.written);
  EXPECT_STREQ(w.reason, "the disk is full");
  EXPECT_EQ(r.observer.log,
            fakes::finished_run_log(0, {"Production log not written: station.log (the disk is full)."}));
}

// The front end keeps one RunState for all its runs: a run counts only the bytes acknowledged in
// its own transfer, also when it ends early.
TEST(RunUpdate, NextRunInTheSameStateCountsOnlyItsOwnAcknowledgedBytes) {
  UpdateRun first;
  const update::RunResult one = first.go();
  ASSERT_EQ(one.outcome, Outcome::kFinished);
  ASSERT_EQ(one.bytes_acknowledged, 1000u);

  UpdateRun second;  // another printer; the first run's state
  second.printer.block_answer = [](std::size_t send) { return std::string(send == 0 ? "OK\r\n" : "BAD\r\n"); };
  const update::RunResult two = fakes::run(second.request, second.observer, second.platform, first.state, *second.pkg);
  EXPECT_EQ(two.outcome, Outcome::kBlockRefused);
  EXPECT_EQ(two.bytes_acknowledged, 528u);
  EXPECT_EQ(second.observer.acknowledged, (std::vector<std::uint32_t>{528}));

  // A run that never reaches the transfer has acknowledged nothing, and a printer that does not
  // answer the query has no serial number, whatever the run before left in the state.
  UpdateRun third;
  third.printer.query_answer.clear();
  third.printer.handshake_answer.clear();
  const update::RunResult three = fakes::run(third.request, third.observer, third.platform, first.state, *third.pkg);
  EXPECT_EQ(three.outcome, Outcome::kNoCommunication);
  EXPECT_EQ(three.bytes_acknowledged, 0u);
  EXPECT_STREQ(three.serial_number, "");
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

// A printer that does not answer the query is still updated, with an empty serial number; the
// query waits its own second, not the reply timeout the run started with.
TEST(RunUpdate, UnansweredQueryWaitsOneSecondAndLeavesTheSerialFieldEmpty) {
  UpdateRun r;
  r.printer.query_answer.clear();
  r.state.reply_timeout = 5;
  std::vector<std::int64_t> write_times;  // calendar second of each write
  r.port.on_write = [&r, &write_times, inner = r.port.on_write](const std::vector<std::uint8_t>& w) {
    write_times.push_back(r.host.t);
    inner(w);
  };
  EXPECT_EQ(r.go().outcome, Outcome::kFinished);
  ASSERT_GE(write_times.size(), 2u);
  EXPECT_LE(write_times[1] - write_times[0], 2);  // query at 1 s, not the 5 s before it
  EXPECT_EQ(r.observer.log, fakes::finished_run_log());
  EXPECT_EQ(r.platform.appended, (std::vector<std::string>{";X;12/06/26 03:57:54\r\n"}));
}

// The run gives the reply to the entry frame and each block's verdict 5 seconds, whatever reply
// timeout it starts with (a front end's first run starts with 5, every later one with the 10 the
// closing reply of the one before left).
TEST(RunUpdate, EntryReplyAndBlockVerdictsHaveFiveSeconds) {
  struct Case {
    const char* what;
    int handshake_delay;
    int block_delay;
    std::int32_t timeout_before;
    Outcome outcome;
    Log log;
  } cases[] = {
      {"entry reply after 3 s", 3, 0, 5, Outcome::kFinished, fakes::finished_run_log()},
      {"entry reply after 4 s in a later run", 4, 0, 10, Outcome::kFinished, fakes::finished_run_log()},
      {"every verdict after 4 s", 0, 4, 5, Outcome::kFinished, fakes::finished_run_log()},
      // Five idle seconds end the wait: a reply in the sixth comes too late.
      {"entry reply after 5 s", 5, 0, 10, Outcome::kNoCommunication, fakes::failed_run_log({"No communication."})},
      {"first verdict after 5 s", 0, 5, 10, Outcome::kBlockRefused, fakes::failed_run_log({"OK", ""})},
  };
  for (const Case& c : cases) {
    UpdateRun r;
    r.state.reply_timeout = c.timeout_before;
    r.printer.handshake_delay = c.handshake_delay;
    r.printer.block_delay = c.block_delay;
    EXPECT_EQ(r.go().outcome, c.outcome) << c.what;
    EXPECT_EQ(r.observer.log, c.log) << c.what;
    EXPECT_EQ(r.platform.appended.size(), c.outcome == Outcome::kFinished ? 1u : 0u) << c.what;
  }
}

// STOP while the query waits: the entry frame still goes out, finds the stop request raised and
// fails, and nothing of the transfer follows.
TEST(RunUpdate, StopDuringTheQueryStillSendsTheEntryFrame) {
  UpdateRun r;
  r.printer.query_answer.clear();
  r.printer.handshake_answer.clear();
  r.host.on_pump = [&r] { update::request_stop(r.state); };
  EXPECT_EQ(r.go().outcome, Outcome::kStopped);
  ASSERT_EQ(r.printer.frames.size(), 1u);
  EXPECT_EQ(r.printer.frames[0].size(), 13u);
  EXPECT_TRUE(r.printer.announce.empty());
  EXPECT_EQ(r.observer.log, fakes::failed_run_log({"No communication."}));
  EXPECT_TRUE(r.platform.appended.empty());
}

TEST(RunUpdate, OutcomeNamesHowTheRunEnded) {
  struct Case {
    const char* what;
    std::function<void(UpdateRun&)> setup;
    Outcome outcome;
    Log log;
    const char* failure;  // where and why, in words
  } cases[] = {
      {"port cannot be opened", [](UpdateRun& r) { r.platform.can_open = false; }, Outcome::kPortNotOpened,
       fakes::unopened_run_log(), "port not opened"},
      {"handshake unanswered", [](UpdateRun& r) { r.printer.handshake_answer.clear(); }, Outcome::kNoCommunication,
       fakes::failed_run_log({"No communication."}), "entry handshake: no reply within 5 s"},
      {"variant without a handshake", [](UpdateRun& r) { r.pkg->variant = 5; }, Outcome::kNoCommunication,
       fakes::failed_run_log({"No communication."}), "entry handshake: no reply within 5 s"},
      {"handshake refused", [](UpdateRun& r) { r.printer.handshake_answer = std::string("\x02\x23" "11" "23\n", 7); },
       Outcome::kBadReceipt, fakes::failed_run_log({"Bad Receipt: ", "0x02 0x23 0x31 0x31 "}),
       "entry handshake: unexpected reply 0x02 0x23 0x31 0x31"},
      {"handshake refused, zero bytes dumped",
       [](UpdateRun& r) { r.printer.handshake_answer = std::string("\x02\x00\x30\x31\x00\x00\n", 7); },
       Outcome::kBadReceipt, fakes::failed_run_log({"Bad Receipt: ", "0x02 0x00 0x30 0x31 "}),
       "entry handshake: unexpected reply 0x02 0x00 0x30 0x31"},
      {"handshake cut short", [](UpdateRun& r) { r.printer.handshake_answer = std::string("\x06\x30\x31", 3); },
       Outcome::kBadReceipt, fakes::failed_run_log({"Bad Receipt: ", "0x06 0x30 0x31 "}),
       "entry handshake: unexpected reply 0x06 0x30 0x31"},
      {"handshake cut short, bytes above 9",
       [](UpdateRun& r) { r.printer.handshake_answer = std::string("\xAB\x0F\xFF", 3); }, Outcome::kBadReceipt,
       fakes::failed_run_log({"Bad Receipt: ", "0xAB 0x0F 0xFF "}), "entry handshake: unexpected reply 0xAB 0x0F 0xFF"},
      {"announce refused", [](UpdateRun& r) { r.printer.announce_answer = "NAK\r\n"; }, Outcome::kAnnounceRefused,
       fakes::failed_run_log({"Bad printer response or timeout.", "NAK"}), "announce line: unexpected reply \"NAK\""},
      {"block refused", [](UpdateRun& r) { r.printer.block_answer = [](std::size_t) { return std::string("BAD\r\n"); }; },
       Outcome::kBlockRefused, fakes::failed_run_log({"OK", "BAD"}), "block 1 of 2: unexpected reply \"BAD\""},
      {"second block unanswered",
       [](UpdateRun& r) { r.printer.block_answer = [](std::size_t send) { return std::string(send == 1 ? "" : "OK\r\n"); }; },
       Outcome::kBlockRefused, fakes::failed_run_log({"OK", ""}), "block 2 of 2: no reply within 5 s"},
      {"no closing reply", [](UpdateRun& r) { r.printer.closing_answer = "NO\r\n"; }, Outcome::kClosingRefused,
       fakes::failed_run_log({"OK", "NO", "Bad printer response."}), "closing reply: unexpected reply \"NO\""},
      {"closing reply missing", [](UpdateRun& r) { r.printer.closing_answer.clear(); }, Outcome::kClosingRefused,
       fakes::failed_run_log({"OK", "", "Bad printer response."}), "closing reply: no reply within 10 s"},
      {"block write fails", [](UpdateRun& r) { r.port.fail_writes_from = 3; }, Outcome::kSendFailed,
       fakes::failed_run_log({"OK", "Error sending data."}), "block 1 of 2: could not be sent"},
      // STOP between the blocks.
      {"stopped in the transfer", [](UpdateRun& r) { r.host.on_pump = [&r] { update::request_stop(r.state); }; },
       Outcome::kStopped, fakes::failed_run_log({"OK", "Process stopped."}), "stopped at block 2 of 2"},
      // STOP while the query waits: the handshake still goes out, finds the stop request raised,
      // and fails; the run was stopped all the same.
      {"stopped during the query",
       [](UpdateRun& r) {
         r.printer.query_answer.clear();
         r.printer.handshake_answer.clear();
         r.host.on_pump = [&r] { update::request_stop(r.state); };
       },
       Outcome::kStopped, fakes::failed_run_log({"No communication."}), "stopped during the identification query"},
      // Cancel while the query waits: the run goes on up to the first block.
      {"cancelled during the query",
       [](UpdateRun& r) {
         r.printer.query_answer.clear();
         r.host.on_pump = [&r] { update::request_cancel(r.state); };
       },
       Outcome::kStopped, fakes::failed_run_log({"OK", "Process stopped."}), "stopped at block 1 of 2"},
  };
  for (const Case& c : cases) {
    UpdateRun r;
    c.setup(r);
    EXPECT_EQ(r.go().outcome, c.outcome) << c.what;
    char words[update::kFailureTextSize];
    update::describe_failure(r.observer.result.failure, words, sizeof words);
    EXPECT_STREQ(words, c.failure) << c.what;
    EXPECT_FALSE(r.observer.result.production_log.due) << c.what;
    EXPECT_TRUE(r.platform.appended.empty()) << c.what;
    EXPECT_EQ(r.observer.log, c.log) << c.what;
    if (c.outcome == Outcome::kPortNotOpened) {
      EXPECT_TRUE(r.port.writes.empty()) << c.what;
      EXPECT_EQ(std::count(r.observer.events.begin(), r.observer.events.end(), "after_query"), 0) << c.what;
    } else {
      EXPECT_EQ(r.port.closes, 1) << c.what;
    }
  }
}

}  // namespace
