// The timed operations against a scripted port and a clock the test moves.
#include "serial/timed_io.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/fakes.h"

namespace {

using fakes::data;
using fakes::failed;
using fakes::idle;

constexpr unsigned char kGuard = 0xA5;
constexpr std::size_t kGuardSize = 32;

// A line as an update run has it, with guard bytes behind the drain area.
struct Rig {
  fakes::FakeHost host;
  fakes::FakePort port{host};
  std::int32_t timeout = 5;
  std::uint32_t stop = 0;
  std::array<char, serial::kDrainAreaSize + kGuardSize> drain{};
  serial::Line line{port, host, timeout, stop, drain.data()};

  Rig() { std::memset(drain.data() + serial::kDrainAreaSize, kGuard, kGuardSize); }
  std::int64_t elapsed(std::int64_t start) const { return host.t - start; }
};

// A reply buffer of the run's size followed by guard bytes.
struct GuardedBuffer {
  std::array<char, serial::kReplyBufferSize + kGuardSize> bytes{};
  GuardedBuffer() { std::memset(bytes.data() + serial::kReplyBufferSize, kGuard, kGuardSize); }
  char* data() { return bytes.data(); }
  bool guard_intact() const {
    for (std::size_t i = serial::kReplyBufferSize; i < bytes.size(); ++i) {
      if (static_cast<unsigned char>(bytes[i]) != kGuard) return false;
    }
    return true;
  }
};

bool guard_intact(const char* p) {
  for (std::size_t i = 0; i < kGuardSize; ++i) {
    if (static_cast<unsigned char>(p[i]) != kGuard) return false;
  }
  return true;
}

// ---- line read ----

struct LineCase {
  const char* name;
  std::vector<fakes::ReadStep> steps;
  std::int32_t timeout;
  std::int32_t count;
  std::string stored;        // the buffer's start afterwards
  std::int64_t elapsed;      // calendar seconds the read took; -1: not checked
};

TEST(LineRead, EndsAtLfOrCrAndTheByteAfterIt) {
  const std::vector<LineCase> cases = {
      {"ok_cr_lf", {data("OK\r\n")}, 5, 2, "OK\r\n", 0},
      {"ok_lf_at_once", {data("OK\n")}, 5, 2, "OK\n", 0},
      {"ok_cr_any_byte", {data("OK\rZ")}, 5, 2, "OK\rZ", 0},
      {"cr_lf_alone", {data("\r\n")}, 5, 0, "\r\n", 0},
      {"cr_last_waits_for_timeout", {data("OK\r")}, 5, 2, "OK\r", 5},
      {"cr_then_byte_within_timeout", {data("OK\r"), idle(), idle(), data("x")}, 5, 2, "OK\rx", 2},
      {"cr_then_failed_request_keeps_waiting", {data("OK\r"), failed(), data("\n")}, 5, 2, "OK\r\n", 0},
      {"nothing_arrives", {}, 5, 0, "", 5},
      {"timeout_one_ends_after_one_idle", {}, 1, 0, "", 1},
      {"cut_off_by_timeout", {data("A", 1), data("B", 1), data("C", 1), data("\n")}, 2, 2, "AB", 2},
      {"failed_request_ends_line", {data("AB"), failed(), data("C\n")}, 5, 2, "AB", 0},
      {"timeout_counts_from_read_start", {data("A", 4), data("B", 1), data("\n")}, 5, 2, "AB", 5},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.timeout = c.timeout;
    rig.port.steps.assign(c.steps.begin(), c.steps.end());
    GuardedBuffer buf;
    const std::int64_t start = rig.host.t;
    EXPECT_EQ(serial::line_read(rig.line, buf.data(), serial::kReplyBufferSize), c.count);
    EXPECT_EQ(std::string(buf.data(), c.stored.size()), c.stored);
    if (c.elapsed >= 0) {
      EXPECT_EQ(rig.elapsed(start), c.elapsed);
    }
    EXPECT_EQ(rig.host.pumps, 0) << "the line read never pumps";
  }
}

TEST(LineRead, ConsumesOnlyOneByteAfterCr) {
  Rig rig;
  rig.port.feed("OK\rXY");
  GuardedBuffer buf;
  EXPECT_EQ(serial::line_read(rig.line, buf.data(), serial::kReplyBufferSize), 2);
  EXPECT_EQ(std::string(buf.data(), 4), "OK\rX");
  EXPECT_EQ(std::string(rig.port.input.begin(), rig.port.input.end()), "Y");
  for (std::uint32_t want : rig.port.requested) EXPECT_EQ(want, 1u) << "one byte per request";
}

TEST(LineRead, LeavesBytesOfAnEarlierLongerReplyBehindTheNewOne) {
  Rig rig;
  GuardedBuffer buf;
  std::memcpy(buf.data(), "RETRY\r\n", 7);
  rig.port.feed("OK\n");
  EXPECT_EQ(serial::line_read(rig.line, buf.data(), serial::kReplyBufferSize), 2);
  EXPECT_EQ(std::string(buf.data(), 7), "OK\nRY\r\n");
}

TEST(LineRead, OverlongLineStopsStoringAtTheBufferEndAndIsReadToItsEnd) {
  const std::size_t kept = serial::kReplyBufferSize - 2;  // room for CR + byte, or the terminator
  for (const char* ending : {"\r\n", "\n", "\rZ"}) {
    SCOPED_TRACE(ending);
    Rig rig;
    rig.port.feed(std::string(3000, 'A') + ending + "NEXT\n");
    GuardedBuffer buf;
    const std::int32_t n = serial::line_read(rig.line, buf.data(), serial::kReplyBufferSize);
    EXPECT_EQ(n, static_cast<std::int32_t>(kept));
    EXPECT_TRUE(buf.guard_intact());
    EXPECT_EQ(std::string(buf.data() + kept, std::strlen(ending)), ending);
    serial::reply_cut(buf.data(), n);
    EXPECT_EQ(std::strlen(buf.data()), kept);
    EXPECT_TRUE(buf.guard_intact());
    // The surplus went with its line: the next read sees the next line.
    EXPECT_EQ(serial::line_read(rig.line, buf.data(), serial::kReplyBufferSize), 4);
    EXPECT_EQ(std::string(buf.data(), 4), "NEXT");
  }
}

TEST(LineRead, OverlongLineWithoutEndIsCutByTheTimeout) {
  Rig rig;
  rig.timeout = 1;
  rig.port.steps = {data(std::string(2000, 'B')), idle()};
  GuardedBuffer buf;
  EXPECT_EQ(serial::line_read(rig.line, buf.data(), serial::kReplyBufferSize),
            static_cast<std::int32_t>(serial::kReplyBufferSize - 2));
  EXPECT_TRUE(buf.guard_intact());
}

// ---- block read ----

struct BlockCase {
  const char* name;
  std::uint32_t want;
  std::vector<fakes::ReadStep> steps;
  std::int32_t result;
  std::string stored;  // the first `want` bytes of the destination afterwards
};

TEST(BlockRead, RunningCountAddsThePositionOfTheFirstLfOfEachRequest) {
  using namespace std::string_literals;
  const std::vector<BlockCase> cases = {
      {"complete", 4, {data("ABCD")}, 4, "ABCD"},
      {"a_lf_b_counts_as_complete", 4, {data("A\nB")}, 4, "A\nB\0"s},
      {"fourteen_wanted_eight_with_lf_last", 14, {data("ABCDEFG\n")}, 15, "ABCDEFG\n\0\0\0\0\0\0"s},
      {"lf_first_adds_nothing", 4, {data("\nAB")}, 3, "\nAB\0"s},
      {"only_first_lf_of_a_request", 8, {data("A\nB\n")}, 5, "A\nB\n\0\0\0\0"s},
      {"each_request_adds_its_own_lf", 8, {data("A\n"), data("BC\n")}, 8, "A\nBC\n\0\0\0"s},
      {"in_pieces", 6, {data("AB"), idle(), data("CDEF")}, 6, "ABCDEF"},
      {"failed_first_request_gives_n_and_zeros", 4, {failed()}, 4, "\0\0\0\0"s},
      {"failed_later_request_gives_n", 4, {data("AB"), failed()}, 4, "AB\0\0"s},
      {"timeout_gives_running_count", 4, {data("AB")}, 2, "AB\0\0"s},
  };
  for (const BlockCase& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.port.steps.assign(c.steps.begin(), c.steps.end());
    std::array<char, 64> dst;
    dst.fill(static_cast<char>(kGuard));
    EXPECT_EQ(serial::block_read(rig.line, dst.data(), c.want), c.result);
    EXPECT_EQ(std::string(dst.data(), c.want), c.stored);
    EXPECT_TRUE(guard_intact(dst.data() + c.want));
  }
}

TEST(BlockRead, AsksOnlyForTheRoomLeftAndStoresNothingPastN) {
  Rig rig;
  rig.port.steps = {data("ABC"), data("DEFGHIJK")};
  std::array<char, 8 + kGuardSize> dst;
  std::memset(dst.data() + 8, kGuard, kGuardSize);
  EXPECT_EQ(serial::block_read(rig.line, dst.data(), 8), 8);
  EXPECT_EQ(std::string(dst.data(), 8), "ABCDEFGH");
  EXPECT_TRUE(guard_intact(dst.data() + 8));
  EXPECT_EQ(rig.port.requested, (std::vector<std::uint32_t>{8, 5}));
}

TEST(BlockRead, SilentPrinterEndsOnTheTimeoutPumpingOncePerIdleRequest) {
  for (std::int32_t timeout : {1, 5}) {
    SCOPED_TRACE(timeout);
    Rig rig;
    rig.timeout = timeout;
    char dst[4];
    const std::int64_t start = rig.host.t;
    EXPECT_EQ(serial::block_read(rig.line, dst, sizeof dst), 0);
    EXPECT_EQ(rig.elapsed(start), timeout);
    EXPECT_EQ(rig.port.read_requests, timeout);
    EXPECT_EQ(rig.host.pumps, timeout);
  }
}

TEST(BlockRead, StopRequestIsSeenRightAfterThePumpOfAnIdleRequest) {
  Rig rig;
  rig.port.steps = {data("AB"), idle(), idle(), idle()};
  rig.host.on_pump = [&] {
    if (rig.host.pumps == 2) rig.stop = 1;  // STOP pressed while the second message is handled
  };
  char dst[8];
  EXPECT_EQ(serial::block_read(rig.line, dst, sizeof dst), 2);
  EXPECT_EQ(rig.port.read_requests, 3);
  EXPECT_EQ(rig.host.pumps, 2);
}

TEST(BlockRead, StopRequestIsNotLookedAtWhileBytesKeepArriving) {
  Rig rig;
  rig.stop = 1;
  rig.port.steps = {data("A"), data("B"), data("C"), data("D")};
  char dst[4];
  EXPECT_EQ(serial::block_read(rig.line, dst, sizeof dst), 4);
  EXPECT_EQ(rig.host.pumps, 0);
}

TEST(BlockRead, ZeroWantedMakesOneIdleRequestAndOnePump) {
  for (std::uint32_t stop : {0u, 1u}) {
    SCOPED_TRACE(stop);
    Rig rig;
    rig.stop = stop;
    rig.port.feed("XYZ");
    char dst[1] = {'#'};
    EXPECT_EQ(serial::block_read(rig.line, dst, 0), 0);
    EXPECT_EQ(rig.port.requested, std::vector<std::uint32_t>{0});
    EXPECT_EQ(rig.host.pumps, 1);
    EXPECT_EQ(dst[0], '#');
  }
}

// ---- drained write ----

TEST(DrainedWrite, DropsWaitingInputBeforeWriting) {
  Rig rig;
  rig.port.feed("0123456789");
  EXPECT_EQ(serial::drained_write(rig.line, "PING", 4), 1);
  EXPECT_TRUE(rig.port.input.empty());
  EXPECT_EQ(rig.port.written_text(), "PING");
  EXPECT_EQ(std::string(rig.drain.data(), 10), "0123456789");
  // Nothing of it reaches a later read.
  rig.port.feed("OK\n");
  GuardedBuffer buf;
  EXPECT_EQ(serial::line_read(rig.line, buf.data(), serial::kReplyBufferSize), 2);
  EXPECT_EQ(std::string(buf.data(), 2), "OK");
}

TEST(DrainedWrite, DrainsMoreThanTheAreaHoldsInSeveralRequests) {
  Rig rig;
  rig.port.feed(std::string(10000, 'x'));
  EXPECT_EQ(serial::drained_write(rig.line, "A", 1), 1);
  EXPECT_TRUE(rig.port.input.empty());
  EXPECT_EQ(rig.port.requested, (std::vector<std::uint32_t>{4096, 4096, 1808}));
  EXPECT_TRUE(guard_intact(rig.drain.data() + serial::kDrainAreaSize));
}

TEST(DrainedWrite, StaleQueueCountDoesNotHoldTheWrite) {
  Rig rig;
  rig.port.queued_override = 50;  // the status claims input, but none comes
  EXPECT_EQ(serial::drained_write(rig.line, "A", 1), 1);
  EXPECT_EQ(rig.port.read_requests, 1);
}

TEST(DrainedWrite, ShortOrFailedWriteIsAFailure) {
  Rig shortw;
  shortw.port.short_writes = true;
  EXPECT_EQ(serial::drained_write(shortw.line, "ABCD", 4), 0);
  Rig failw;
  failw.port.fail_writes_from = 0;
  EXPECT_EQ(serial::drained_write(failw.line, "ABCD", 4), 0);
  EXPECT_EQ(failw.port.status_queries, 1) << "the drain still comes first";
}

// ---- reply cut and match ----

TEST(ReplyCut, TerminatesAtFirstCrOrLfWithinLenElseAfterLen) {
  struct Case {
    const char* area;
    std::int32_t len;
    const char* text;
  };
  const Case cases[] = {
      {"OK\rXX", 2, "OK"},  {"OK\r\n", 4, "OK"}, {"A\nB\r", 4, "A"},
      {"ABCD", 2, "AB"},    {"ABCD", 0, ""},     {"AB\rC", 1, "A"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.area);
    char area[16] = {};
    std::strcpy(area, c.area);
    serial::reply_cut(area, c.len);
    EXPECT_STREQ(area, c.text);
  }
}

TEST(ReplyMatch, ComparesTheFirstNBytesCaseSensitively) {
  struct Case {
    const char* reply;
    const char* word;
    std::size_t n;
    int match;
  };
  const Case cases[] = {
      {"OK", "OK", 2, 1},      {"OKAY", "OK", 2, 1},     {"ok", "OK", 2, 0},
      {"O", "OK", 2, 0},       {"xyz", "OK", 0, 1},      {"RETRY\r", "RETRY", 5, 1},
      {"RETRX", "RETRY", 5, 0}, {"WAIT", "WAIT", 4, 1},     {"OX", "OK", 2, 0},
      {"WAIX", "WAIT", 4, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.reply) + " vs " + c.word);
    EXPECT_EQ(serial::reply_match(c.reply, c.word, c.n), c.match);
  }
}

}  // namespace
