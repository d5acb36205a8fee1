#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/expected_log.h"
#include "tests/support/records.h"
#include "tests/support/run_control.h"
#include "tests/support/run_fakes.h"
#include "tests/support/scripted_printer.h"
#include "update/crc16.h"
#include "update/transfer.h"

namespace {

using fakes::Log;
using update::Outcome;

// A package whose image of `length` bytes is random, seeded by the length.
std::unique_ptr<package::Record> make_package(std::uint32_t length) {
  return fakes::RecordBuilder().image_length(length).random_image(length).build();
}

// A printer on a fake line and a run ready for the transfer, as the driver leaves it.
struct Rig {
  Rig() {
    fakes::mark_run_under_way(state);
    state.reply_timeout = 5;  // as the driver leaves it before the transfer
  }

  void run(std::uint32_t length) {
    pkg = make_package(length);
    outcome = update::transfer_image(line, state, *pkg, observer, reply);
  }

  std::string image() const { return std::string(reinterpret_cast<const char*>(pkg->image), pkg->image_length); }

  fakes::FakeHost host;
  fakes::FakePort port{host};
  fakes::ScriptedPrinter printer{port};
  fakes::RecordingObserver observer;
  update::RunState state;
  serial::Line line{port, host, state.reply_timeout, state.stop_request, state.text};
  std::unique_ptr<package::Record> pkg;
  char reply[serial::kReplyBufferSize] = {};
  Outcome outcome = Outcome::kStopped;  // as transfer_image returned it
};

class Transfer : public ::testing::Test, public Rig {};

TEST_F(Transfer, WholeImageGoesOutInBlocksEachFollowedByItsCrcLowByteFirst) {
  run(655360);

  EXPECT_EQ(printer.announce, "V1.0;655360;528;\r\n");
  ASSERT_EQ(printer.blocks.size(), 1242u);
  std::string sent;
  for (std::size_t i = 0; i < printer.blocks.size(); ++i) {
    const std::string& b = printer.blocks[i];
    EXPECT_EQ(b.size(), i < 1241 ? 528u : 112u) << "block " << i;
    // Every block's CRC starts again from the initial value and covers only that block.
    const std::uint16_t crc = update::crc16(reinterpret_cast<const std::uint8_t*>(b.data()), b.size());
    ASSERT_EQ(printer.crcs[i], std::string({static_cast<char>(crc & 0xFF), static_cast<char>(crc >> 8)}))
        << "block " << i;
    sent += b;
  }
  EXPECT_EQ(sent, image());
  // On the wire: the announce line, then block and CRC alternately, nothing else.
  ASSERT_EQ(port.writes.size(), 1 + 2 * 1242u);

  EXPECT_EQ(outcome, Outcome::kFinished);
  EXPECT_EQ(observer.log, fakes::transfer_log());
  EXPECT_EQ(observer.events.back(), "turning_off");
  EXPECT_EQ(state.stop_request, 0u);
  EXPECT_EQ(state.reply_timeout, 10);
  EXPECT_EQ(host.pumps, 1242);  // one pending message per block
  ASSERT_EQ(observer.positions.size(), 1242u);
  EXPECT_TRUE(std::is_sorted(observer.positions.begin(), observer.positions.end()));
  EXPECT_EQ(observer.positions.back(), 100u);
}

TEST_F(Transfer, BlockSplitAndFinalProgressForOtherLengths) {
  struct Case {
    std::uint32_t length;
    std::vector<std::size_t> blocks;
    std::uint32_t last_progress;
  } cases[] = {
      {528 * 3, {528, 528, 528}, 100},
      {529, {528, 1}, 100},
      {199, {199}, 100},  // 199 / (199 / 100) would be 199: held at the bar's maximum
      {50, {50}, 50},     // below 100 bytes the divisor is 1, so the bar ends at the length
      {1, {1}, 1},
  };
  for (const Case& c : cases) {
    Rig t;
    t.run(c.length);

    std::vector<std::size_t> sizes;
    for (const auto& b : t.printer.blocks) sizes.push_back(b.size());
    EXPECT_EQ(sizes, c.blocks) << c.length;
    ASSERT_FALSE(t.observer.positions.empty()) << c.length;
    EXPECT_EQ(t.observer.positions.back(), c.last_progress) << c.length;
    EXPECT_EQ(t.outcome, Outcome::kFinished) << c.length;
    EXPECT_EQ(t.observer.log, fakes::transfer_log()) << c.length;
  }
}

TEST_F(Transfer, RetryResendsTheIdenticalBlockWithoutMovingTheProgress) {
  printer.block_answer = [](std::size_t send) -> std::string {
    if (send == 2) return "RETRY\r\n";
    if (send == 1) return "OKAY\r\n";  // a reply that merely begins with OK is accepted
    return "OK\r\n";
  };
  run(528 * 4);

  ASSERT_EQ(printer.blocks.size(), 5u);
  EXPECT_EQ(printer.blocks[3], printer.blocks[2]);
  EXPECT_EQ(printer.crcs[3], printer.crcs[2]);
  EXPECT_EQ(printer.blocks[2], image().substr(2 * 528, 528));
  EXPECT_EQ(observer.positions, (std::vector<std::uint32_t>{25, 50, 50, 75, 100}));
  EXPECT_EQ(observer.retries, (std::vector<bool>{false, false, true, false, false}));
  EXPECT_EQ(outcome, Outcome::kFinished);
  EXPECT_EQ(observer.log, fakes::transfer_log(1));
  EXPECT_EQ(state.stop_request, 0u);
}

TEST(TransferLineEnd, CrAndTheOneByteAfterItEndAVerdict) {
  // The last verdict and the closing reply follow each other: the CR and the one byte after it
  // end the verdict, whatever that byte is and however late it comes within the reply timeout,
  // and the closing reply begins right behind it.
  struct Case {
    const char* what;
    const char* verdict;
    const char* closing;
    int pause;  // seconds between the verdict and the closing reply
  } cases[] = {
      {"any byte after the CR", "OK\rX", "WAIT\r\n", 0},
      {"the byte after the CR a second later", "OK\r", "\nWAIT\r\n", 1},
  };
  for (const Case& c : cases) {
    Rig t;
    t.printer.block_answer = [&c](std::size_t) { return std::string(c.verdict); };
    t.printer.closing_answer = c.closing;
    t.printer.closing_delay = c.pause;
    t.run(1000);
    EXPECT_EQ(t.outcome, Outcome::kFinished) << c.what;
    EXPECT_EQ(t.observer.log, fakes::transfer_log()) << c.what;
    EXPECT_EQ(t.state.stop_request, 0u) << c.what;
  }
}

TEST_F(Transfer, InputArrivingWithABlockIsDiscardedBeforeItsCrc) {
  // Noise that arrives while a block goes out, more than one drain request holds, must not be
  // read as the verdict on it.
  port.on_write = [this, inner = port.on_write](const std::vector<std::uint8_t>& w) {
    inner(w);
    if (printer.phase == fakes::ScriptedPrinter::Phase::kCrc) port.feed(std::string(5000, 'R') + "ETRY\r\n");
  };
  run(1000);
  EXPECT_EQ(printer.blocks.size(), 2u);
  EXPECT_EQ(outcome, Outcome::kFinished);
  EXPECT_EQ(observer.log, fakes::transfer_log());
  EXPECT_EQ(state.stop_request, 0u);
}

TEST_F(Transfer, ClosingReplyIsAwaitedTenSeconds) {
  printer.closing_delay = 9;  // longer than the 5 seconds that every earlier reply may take
  run(1000);
  EXPECT_EQ(outcome, Outcome::kFinished);
  EXPECT_EQ(observer.log, fakes::transfer_log());
  EXPECT_EQ(state.stop_request, 0u);
}

// Each failure: what the printer or the port does, the outcome the transfer returns, and the log
// lines that follow the setup.
struct Failure {
  const char* what;
  std::function<void(fakes::FakePort&, fakes::ScriptedPrinter&, update::RunState&, fakes::FakeHost&)> setup;
  Outcome outcome;
  Log log;
  std::size_t blocks_sent;
};

TEST_F(Transfer, EveryFailureEndsWithItsOutcomeAndLogLinesAndRaisesTheStopRequest) {
  const std::string silent;
  const Failure cases[] = {
      {"announce line not written", [](auto& p, auto&, auto&, auto&) { p.fail_writes_from = 0; },
       Outcome::kSendFailed, {"Error sending data."}, 0},
      {"announce line written short", [](auto& p, auto&, auto&, auto&) { p.short_writes = true; },
       Outcome::kSendFailed, {"Error sending data."}, 0},
      {"announce reply missing", [&](auto&, auto& pr, auto&, auto&) { pr.announce_answer = silent; },
       Outcome::kAnnounceRefused, {"Bad printer response or timeout.", ""}, 0},
      {"announce reply not OK", [](auto&, auto& pr, auto&, auto&) { pr.announce_answer = "NAK 3\r\n"; },
       Outcome::kAnnounceRefused, {"Bad printer response or timeout.", "NAK 3"}, 0},
      {"run-active flag already cleared", [](auto&, auto&, auto& s, auto&) { update::request_cancel(s); },
       Outcome::kStopped, {"OK", "Process stopped."}, 0},
      {"STOP during the first block's pump",
       [](auto&, auto&, auto& s, auto& h) { h.on_pump = [&s] { update::request_stop(s); }; },
       Outcome::kStopped, {"OK", "Process stopped."}, 1},
      {"STOP during the last block's pump: no closing reply",
       [](auto&, auto& pr, auto& s, auto& h) {
         h.on_pump = [&s, &pr] {
           if (pr.blocks.size() == 2) update::request_stop(s);
         };
       },
       Outcome::kStopped, {"OK"}, 2},
      {"block not written", [](auto& p, auto&, auto&, auto&) { p.fail_writes_from = 1; },
       Outcome::kSendFailed, {"OK", "Error sending data."}, 0},
      {"block reply neither OK nor RETRY",
       [](auto&, auto& pr, auto&, auto&) { pr.block_answer = [](std::size_t) { return std::string("ERR 7\r\n"); }; },
       Outcome::kBlockRefused, {"OK", "ERR 7"}, 1},
      {"block reply missing",
       [](auto&, auto& pr, auto&, auto&) { pr.block_answer = [](std::size_t) { return std::string(); }; },
       Outcome::kBlockRefused, {"OK", ""}, 1},
      // The O arrives and the line times out; the K left in the buffer by "OK" does not complete it.
      {"block reply cut off after O",
       [](auto&, auto& pr, auto&, auto&) { pr.block_answer = [](std::size_t) { return std::string("O"); }; },
       Outcome::kBlockRefused, {"OK", "O"}, 1},
      // A reply word matches on all of its bytes, not on a part of them.
      {"block reply OX",
       [](auto&, auto& pr, auto&, auto&) { pr.block_answer = [](std::size_t) { return std::string("OX\r\n"); }; },
       Outcome::kBlockRefused, {"OK", "OX"}, 1},
      {"closing reply WAIX", [](auto&, auto& pr, auto&, auto&) { pr.closing_answer = "WAIX\r\n"; },
       Outcome::kClosingRefused, {"OK", "WAIX", "Bad printer response."}, 2},
      {"closing reply not WAIT", [](auto&, auto& pr, auto&, auto&) { pr.closing_answer = "BUSY\r\n"; },
       Outcome::kClosingRefused, {"OK", "BUSY", "Bad printer response."}, 2},
      {"closing reply missing", [&](auto&, auto& pr, auto&, auto&) { pr.closing_answer = silent; },
       Outcome::kClosingRefused, {"OK", "", "Bad printer response."}, 2},
  };
  for (const Failure& c : cases) {
    Rig t;
    c.setup(t.port, t.printer, t.state, t.host);
    t.run(1000);  // two blocks

    EXPECT_EQ(t.outcome, c.outcome) << c.what;
    EXPECT_EQ(t.observer.log, c.log) << c.what;
    EXPECT_EQ(t.state.stop_request, 1u) << c.what;
    EXPECT_EQ(t.printer.blocks.size(), c.blocks_sent) << c.what;
  }
}

TEST(AnnounceLine, LongestVersionFitsWithoutWritingPastTheBuffer) {
  auto pkg = make_package(655360);
  std::memset(pkg->version, 'v', 255);
  char out[update::kAnnounceBufferSize + 8];
  std::memset(out, '#', sizeof out);
  const std::int32_t n = update::build_announce_line(*pkg, out);
  EXPECT_EQ(std::string(out, n), std::string(255, 'v') + ";655360;528;\r\n");
  EXPECT_EQ(std::string(out + update::kAnnounceBufferSize, 8), std::string(8, '#'));
}

}  // namespace
