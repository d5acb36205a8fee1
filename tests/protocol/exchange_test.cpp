// The identification query and the entry handshakes against a scripted printer at the port seam:
// each write of the updater makes the printer queue its next reply; a silent printer leaves
// every read request idle for one second on the test clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "expected_frames.h"
#include "protocol/frames.h"
#include "protocol/handshake.h"
#include "protocol/identify.h"
#include "support/fakes.h"
#include "support/records.h"

namespace {

using protocol_test::Bytes;
using protocol_test::kCodeA1B2C3;

std::string b(std::initializer_list<int> v) {
  std::string s;
  for (int c : v) s.push_back(static_cast<char>(c));
  return s;
}

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

constexpr std::uint8_t kUntouched = 0xEE;

// A line to a printer that answers the n-th write with replies[n] (nothing when it runs out).
struct Printer {
  explicit Printer(std::vector<std::string> r, std::int32_t timeout = 5) : replies(std::move(r)), reply_timeout(timeout) {
    port.on_write = [this](const std::vector<std::uint8_t>&) {
      if (answered < replies.size()) port.feed(replies[answered]);
      ++answered;
    };
    std::fill(std::begin(work), std::end(work), kUntouched);
  }
  std::vector<std::string> replies;
  std::size_t answered = 0;
  fakes::FakeHost host;
  fakes::FakePort port{host};
  std::int32_t reply_timeout;
  std::uint32_t stop_request = 0;
  char drain[serial::kDrainAreaSize] = {};
  serial::Line line{port, host, reply_timeout, stop_request, drain};
  std::uint8_t work[serial::kReplyBufferSize];
  std::int32_t reply_count = -1;

  int handshake(package::Record& r) { return protocol::entry_handshake(line, r, work, reply_count); }
  Bytes work_start(std::size_t n) const { return Bytes(work, work + n); }
};

// ---- Identification query -------------------------------------------------------------------

const Bytes kQueryWire = {0x02, 0x23, 0x42, 0x60, 0x30, 0x31, 0x0A};

struct QueryCase {
  const char* name;
  std::string reply;
  int result;
  std::string serial;
  std::size_t read_requests;  // 1: the query stopped after the 4-byte reply start
};

// The reply start is STX, length byte (0x23 + data bytes), two status characters; the data
// follows, then two checksum characters and LF, which the query reads but does not check. A
// third request reads that end (idle where the reply has none).
const QueryCase kQueryCases[] = {
    {"serial before ';'", b({0x02, 0x2B}) + "00" + "12345;67" + "01\n", 1, "12345", 3},
    {"serial up to the first of several ';'", b({0x02, 0x2C}) + "00" + "SN-77;A;B" + "01\n", 1, "SN-77", 3},
    {"no data", b({0x02, 0x23}) + "00" + "01\n", 0, "", 3},
    {"no ';' in the data", b({0x02, 0x2B}) + "00" + "12345678" + "01\n", 0, "", 3},
    {"byte 0 not STX", b({0x06, 0x2B}) + "00" + "12345;67" + "01\n", 0, "", 1},
    {"length byte below 0x23", b({0x02, 0x22}) + "00" + "1;" + "01\n", 0, "", 1},
    {"length byte 0x00", b({0x02, 0x00}) + "00" + "1;" + "01\n", 0, "", 1},
    // Control bytes would split the production log's line: each becomes '?'. The LF also makes
    // the read report more bytes than arrived (11 + 4).
    {"control bytes replaced", b({0x02, 0x2E}) + "00" + "AB\rC\nD" + b({0x7F, 0x01}) + "E;Z" + "01\n", 1,
     "AB?C?D??E", 3},
    {"127 characters fit", b({0x02, 0x23 + 128}) + "00" + std::string(127, 'S') + ";" + "01\n", 1,
     std::string(127, 'S'), 3},
    {"128 characters refused", b({0x02, 0x23 + 129}) + "00" + std::string(128, 'S') + ";" + "01\n", 0, "", 3},
    // 220 data bytes whose last is LF: the read reports 220 + 219, far past the buffer; the
    // terminator must still land inside it.
    {"count beyond the buffer", b({0x02, 0xFF}) + "00" + "SN-9;" + std::string(214, 'x') + "\n", 1, "SN-9", 3},
};

TEST(IdentificationQuery, RepliesFromTheTable) {
  for (const QueryCase& c : kQueryCases) {
    SCOPED_TRACE(c.name);
    Printer p({c.reply}, 1);
    auto r = fakes::RecordBuilder().access_code(kCodeA1B2C3).variant(4).build();
    char serial[protocol::kSerialNumberSize + 1];
    std::memset(serial, 'X', sizeof serial);
    serial[protocol::kSerialNumberSize] = 0x5A;  // guard
    EXPECT_EQ(protocol::identification_query(p.line, *r, serial), c.result);
    EXPECT_EQ(std::string(serial), c.serial);
    EXPECT_EQ(serial[protocol::kSerialNumberSize], 0x5A);
    ASSERT_EQ(p.port.writes.size(), 1u);
    EXPECT_EQ(p.port.writes[0], kQueryWire);
    EXPECT_EQ(p.port.read_requests, static_cast<int>(c.read_requests));
  }
}

TEST(IdentificationQuery, OnlyVariants0_1_4AskButEveryVariantEmptiesTheSerialNumber) {
  for (int variant : {0, 1, 2, 3, 4, 5, 255}) {
    SCOPED_TRACE(variant);
    const bool asks = variant == 0 || variant == 1 || variant == 4;
    Printer p({b({0x02, 0x25}) + "00" + "7;" + "01\n"}, 1);
    auto r = fakes::RecordBuilder().access_code(kCodeA1B2C3).variant(variant).build();
    char serial[protocol::kSerialNumberSize] = "OLD";
    EXPECT_EQ(protocol::identification_query(p.line, *r, serial), asks ? 1 : 0);
    EXPECT_EQ(std::string(serial), asks ? "7" : "");
    EXPECT_EQ(p.port.writes.size(), asks ? 1u : 0u);
  }
}

TEST(IdentificationQuery, SilentPrinterLeavesTheSerialNumberEmpty) {
  Printer p({}, 1);
  auto r = fakes::RecordBuilder().access_code(kCodeA1B2C3).variant(4).build();
  char serial[protocol::kSerialNumberSize] = "OLD";
  EXPECT_EQ(protocol::identification_query(p.line, *r, serial), 0);
  EXPECT_STREQ(serial, "");
  EXPECT_EQ(p.port.read_requests, 1);  // one idle second reaches the 1-second reply timeout
}

// ---- Entry handshake: successes, wire bytes in order ------------------------------------------

const std::string kAccepted = b({0x02, 0x23}) + "00" + "01\n";
const std::string kRefused = b({0x02, 0x23}) + "01" + "00\n";

// A USB adapter delivers the reply in packets: its end can come after idle read requests. The
// query waits for it, so the entry handshake's reply is the first thing it reads; a reply whose
// end never comes costs the query one reply timeout and changes nothing else.
TEST(IdentificationQuery, WaitsForALateReplyEndSoTheHandshakeReadsOnlyItsOwnReply) {
  struct Case {
    const char* name;
    std::vector<fakes::ReadStep> end;  // read requests after the data
    std::int64_t query_seconds;
  };
  const Case cases[] = {
      {"end after one idle request", {fakes::idle(0), fakes::data("6;\n")}, 0},
      {"end after three idle requests", {fakes::idle(0), fakes::idle(0), fakes::idle(0), fakes::data("6;\n")}, 0},
      {"end in two pieces", {fakes::data("6"), fakes::idle(0), fakes::data(";\n")}, 0},
      {"end never comes", {}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Printer p({"", kAccepted}, 1);
    p.port.steps = {fakes::data(b({0x02, 0x2E}) + "00"), fakes::data("ZP-000001;V")};
    p.port.steps.insert(p.port.steps.end(), c.end.begin(), c.end.end());
    auto r = fakes::RecordBuilder().access_code(kCodeA1B2C3).variant(4).build();
    char serial[protocol::kSerialNumberSize] = "OLD";
    const std::int64_t start = p.host.t;
    EXPECT_EQ(protocol::identification_query(p.line, *r, serial), 1);
    EXPECT_STREQ(serial, "ZP-000001");
    EXPECT_EQ(p.host.t - start, c.query_seconds);
    EXPECT_TRUE(p.port.steps.empty());
    p.reply_timeout = 5;
    EXPECT_EQ(p.handshake(*r), 1);
  }
}

TEST(EntryHandshake, CommonSendsItsFrameAndSucceedsOnStatus00) {
  for (int variant : {0, 1, 4}) {
    SCOPED_TRACE(variant);
    Printer p({kAccepted});
    auto r = fakes::RecordBuilder().access_code(kCodeA1B2C3).variant(variant).build();
    EXPECT_EQ(p.handshake(*r), 1);
    EXPECT_EQ(p.port.writes, std::vector<Bytes>{protocol_test::kCommonA1B2C3});
  }
}

TEST(EntryHandshake, CommonSucceedsWithoutTheClosingBytes) {
  Printer p({b({0x02, 0x23}) + "00"});
  auto r = fakes::RecordBuilder().access_code(kCodeA1B2C3).variant(4).build();
  EXPECT_EQ(p.handshake(*r), 1);
  EXPECT_EQ(p.reply_count, 0);
}

TEST(EntryHandshake, Variant2WakesSendsFrameThenAcknowledges) {
  Printer p({b({0x06}), kAccepted});
  auto r = fakes::RecordBuilder().access_code(kCodeA1B2C3).variant(2).build();
  EXPECT_EQ(p.handshake(*r), 1);
  const std::vector<Bytes> wire = {{0x18, 0x18, 0x18, 0x05}, protocol_test::kVariant2A1B2C3, {0x06}};
  EXPECT_EQ(p.port.writes, wire);
}

TEST(EntryHandshake, Variant3ProbesOnlyWhenScrambling) {
  {
    Printer p({b({0x11}), kAccepted});
    auto r = fakes::RecordBuilder().access_code(kCodeA1B2C3).variant(3).scramble(1).build();
    EXPECT_EQ(p.handshake(*r), 1);
    EXPECT_EQ(p.port.writes, (std::vector<Bytes>{{0x17}, protocol_test::kScrambledA1B2C3}));
  }
  {
    Printer p({kAccepted});
    auto r = fakes::RecordBuilder().access_code(kCodeA1B2C3).variant(3).scramble(0).build();
    EXPECT_EQ(p.handshake(*r), 1);
    EXPECT_EQ(p.port.writes, std::vector<Bytes>{protocol_test::kPlainA1B2C3});
  }
}

TEST(EntryHandshake, Variant3RetriesOnceWithThePlainFrameAndRestoresTheFlag) {
  struct Case { std::uint32_t flag; std::vector<Bytes> wire; };
  const Case cases[] = {
      {1, {{0x17}, protocol_test::kScrambledA1B2C3, protocol_test::kPlainA1B2C3}},
      {7, {{0x17}, protocol_test::kScrambledA1B2C3, protocol_test::kPlainA1B2C3}},
      {0, {protocol_test::kPlainA1B2C3, protocol_test::kPlainA1B2C3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flag);
    std::vector<std::string> replies = {kRefused, kAccepted};
    if (c.flag != 0) replies.insert(replies.begin(), b({0x11}));
    Printer p(replies);
    auto r = fakes::RecordBuilder().access_code(kCodeA1B2C3).variant(3).scramble(c.flag).build();
    EXPECT_EQ(p.handshake(*r), 1);
    EXPECT_EQ(p.port.writes, c.wire);
    EXPECT_EQ(r->scramble_flag, c.flag);  // the next run builds what the package says
  }
}

// ---- Entry handshake: every failing point --------------------------------------------------

struct FailCase {
  const char* name;
  std::uint8_t variant;
  std::uint32_t flag;
  std::vector<std::string> replies;
  std::int32_t reply_count;
  Bytes work_start;       // what the work buffer starts with
  std::size_t writes;     // how many writes went out
};

const Bytes kNoneWritten = {kUntouched, kUntouched, kUntouched, kUntouched};

std::vector<FailCase> fail_cases() {
  // After a refused retry: the closing 3-byte read, byte 3 of the retry's reply start, then the
  // retry frame from its byte 4 on.
  Bytes after_retry = {'4', '5', '\n', '2'};
  after_retry.insert(after_retry.end(), protocol_test::kPlainA1B2C3.begin() + 4, protocol_test::kPlainA1B2C3.end());
  return {
      {"variant above 4", 5, 0, {kAccepted}, 0, kNoneWritten, 0},
      {"variant 255", 255, 1, {kAccepted}, 0, kNoneWritten, 0},
      {"common, silent", 4, 0, {}, 0, {0, 0, 0, 0}, 1},
      {"common, short reply start", 0, 0, {b({0x02, 0x23})}, 2, {0x02, 0x23, 0, 0}, 1},
      {"common, refused", 1, 0, {kRefused}, 4, {0x02, 0x23, '0', '1'}, 1},
      {"variant 2, silent after wake-up", 2, 0, {}, 0, {0}, 1},
      {"variant 2, wake-up answered by NAK", 2, 0, {b({0x15})}, 1, {0x15}, 1},
      // 7 bytes arrive, the LF at position 6 adds 6: 13, below the 14 wanted.
      {"variant 2, refused", 2, 0, {b({0x06}), kRefused}, 13, bytes_of(kRefused), 2},
      {"variant 2, short reply", 2, 0, {b({0x06}), b({0x02})}, 1, {0x02, 0, 0, 0}, 2},
      {"variant 3, probe answered wrongly", 3, 1, {b({0x15}), kAccepted}, 1, {0x15}, 1},
      {"variant 3, probe unanswered", 3, 1, {}, 0, {0}, 1},
      {"variant 3, short first reply", 3, 1, {b({0x11}), b({0x02, 0x23, '0'})}, 3, {0x02, 0x23, '0', 0}, 2},
      {"variant 3, retry refused", 3, 1, {b({0x11}), kRefused, b({0x02, 0x23}) + "02" + "45\n"}, 5, after_retry, 3},
      {"variant 3, retry refused then silent", 3, 0, {kRefused, b({0x02, 0x23}) + "02"}, 0, {0, 0, 0, '2'}, 2},
      {"variant 3, retry unanswered", 3, 0, {kRefused}, 0, {0, 0, 0}, 2},
  };
}

TEST(EntryHandshake, FailingPointsHandBackTheCountOfTheirRead) {
  for (const FailCase& c : fail_cases()) {
    SCOPED_TRACE(c.name);
    Printer p(c.replies);
    auto r = fakes::RecordBuilder().access_code(kCodeA1B2C3).variant(c.variant).scramble(c.flag).build();
    p.reply_count = -1;
    EXPECT_EQ(p.handshake(*r), 0);
    EXPECT_EQ(p.reply_count, c.reply_count);
    EXPECT_EQ(p.work_start(c.work_start.size()), c.work_start);
    EXPECT_EQ(p.port.writes.size(), c.writes);
  }
}

TEST(EntryHandshake, FailedReadRequestCountsAsFourZeroBytes) {
  Printer p({kAccepted});
  p.port.steps.push_back(fakes::failed());
  auto r = fakes::RecordBuilder().access_code(kCodeA1B2C3).variant(4).build();
  EXPECT_EQ(p.handshake(*r), 0);
  EXPECT_EQ(p.reply_count, 4);
  EXPECT_EQ(p.work_start(4), Bytes(4, 0));
}

// The variant-2 reply in two read requests that each hold an LF: each request adds the position
// of the first LF among its own bytes, 5 + 4 for the first and 3 + 1 for the second (its second LF
// adds nothing). The 13 stay below the 14 asked for, so the read runs into the timeout and the
// refusal reports 13.
TEST(EntryHandshake, Variant2ReplyInTwoPiecesCountsTheFirstLfOfEachPiece) {
  Printer p({});
  p.port.steps = {fakes::data("\x06"), fakes::data(b({0x02, 0x23}) + "01\n"), fakes::data("X\n\n")};
  auto r = fakes::RecordBuilder().access_code(kCodeA1B2C3).variant(2).build();
  EXPECT_EQ(p.handshake(*r), 0);
  EXPECT_EQ(p.reply_count, 13);
  EXPECT_EQ(p.work_start(8), bytes_of(b({0x02, 0x23}) + "01\nX\n\n"));
  EXPECT_EQ(p.port.writes.size(), 2u);
}

// STOP during a handshake: every read of the exchange ends after its first idle request instead
// of waiting out the 5-second reply timeout; the exchange still goes on and fails.
TEST(EntryHandshake, StopEndsEachReadAfterTheNextIdleRequest) {
  Printer p({b({0x02, 0x23}) + "01"});  // refused, and then the printer falls silent
  p.host.on_pump = [&p] { p.stop_request = 1; };
  auto r = fakes::RecordBuilder().access_code(kCodeA1B2C3).variant(3).scramble(0).build();
  const std::int64_t start = p.host.t;
  EXPECT_EQ(p.handshake(*r), 0);
  EXPECT_EQ(p.reply_count, 0);
  // The refused reply start (1 request); then the closing read, where STOP is pressed, the
  // retry's reply start and the retry's closing read: one idle request each.
  EXPECT_EQ(p.port.read_requests, 4);
  EXPECT_EQ(p.host.pumps, 3);
  EXPECT_EQ(p.host.t - start, 3);
  EXPECT_EQ(p.port.writes, (std::vector<Bytes>{protocol_test::kPlainA1B2C3, protocol_test::kPlainA1B2C3}));
}

}  // namespace
