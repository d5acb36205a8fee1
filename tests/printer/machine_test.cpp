// The virtual printer's state machine, fed the entry frames that the updater's own builders make
// (and one traced by hand), blocks with the updater's CRC, and bytes that are wrong on purpose; and
// the line of printers that come and go on one port, under a test clock.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "package/package.h"
#include "protocol/expected_frames.h"
#include "protocol/frames.h"
#include "protocol/scrambler.h"
#include "support/records.h"
#include "tools/printer/announce.h"
#include "tools/printer/lineup.h"
#include "tools/printer/machine.h"
#include "tools/printer/options.h"
#include "tools/printer/wire.h"
#include "update/crc16.h"

namespace {

using printer::Config;
using printer::Machine;
using Bytes = std::vector<std::uint8_t>;

constexpr char kCode[7] = "A1B2C3";

// Printer replies, written out byte by byte from the framed-message layout.
const std::string kAccepted = std::string("\x02#0023\n");                  // no data, XOR 0x23
const std::string kRefused = std::string("\x02#0122\n");                   // no data, XOR 0x22
const std::string kAccepted2 = std::string("\x02*00UPDATE;00\n");          // 7 data bytes, XOR 0x00
const std::string kRefused2 = std::string("\x02*01UPDATE;01\n");           // XOR 0x01
const std::string kQueryReply12345 = std::string("\x02" "000" "12345;VIRTUAL" "7;\n");  // XOR 0x7B
const Bytes kQuery = {0x02, 0x23, 0x42, 0x60, 0x30, 0x31, 0x0A};

std::unique_ptr<package::Record> record(int variant, bool scramble, const char (&code)[7] = kCode) {
  return fakes::RecordBuilder().variant(variant).scramble(scramble ? 1 : 0).access_code(code).build();
}

Config config(int variant, bool scramble) {
  Config c;
  c.variant = variant;
  c.scramble = scramble;
  std::memcpy(c.access_code.data(), kCode, 6);
  c.serial = "12345";
  return c;
}

Bytes common_frame(const package::Record& r) {
  Bytes b(protocol::kLongestFrame);
  b.resize(static_cast<std::size_t>(protocol::build_common_frame(r, b.data())));
  return b;
}
Bytes variant3_frame(const package::Record& r) {
  Bytes b(protocol::kLongestFrame);
  b.resize(static_cast<std::size_t>(protocol::build_variant3_frame(r, b.data())));
  return b;
}
Bytes variant2_frame(const package::Record& r) {
  Bytes b(protocol::kLongestFrame);
  b.resize(static_cast<std::size_t>(protocol::build_variant2_frame(r, b.data())));
  return b;
}
Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The printer with everything it answers collected as one string per send.
struct Wire {
  explicit Wire(Config c) : m(std::move(c)) {}
  std::string send(const Bytes& b) {
    m.feed(b.data(), b.size());
    std::string out;
    for (const std::string& r : m.take_replies()) out += r;
    return out;
  }
  Machine m;
};

// Each variant's way into update mode: what the updater sends and what the printer must answer.
struct Step {
  Bytes send;
  std::string expect;
};
std::vector<Step> entry_steps(int variant, bool scramble) {
  auto r = record(variant, scramble);
  switch (variant) {
    case 2:
      return {{{0x18, 0x18, 0x18, 0x05}, "\x06"}, {variant2_frame(*r), kAccepted2}, {{0x06}, ""}};
    case 3:
      if (scramble) return {{{0x17}, "\x11"}, {variant3_frame(*r), kAccepted}};
      return {{variant3_frame(*r), kAccepted}};
    default:
      return {{kQuery, kQueryReply12345}, {common_frame(*r), kAccepted}};
  }
}

Bytes sample(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 37 + (i >> 8));
  return b;
}

Bytes block_with_crc(const Bytes& img, std::size_t at, std::size_t n) {
  Bytes b(img.begin() + static_cast<std::ptrdiff_t>(at), img.begin() + static_cast<std::ptrdiff_t>(at + n));
  const std::uint16_t crc = update::crc16(b.data(), n);
  b.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  b.push_back(static_cast<std::uint8_t>(crc >> 8));
  return b;
}

const std::string kAnnounce1100 = "FW 1.0;1100;528;\r\n";  // 528 + 528 + 44

TEST(PrinterMachine, WholeUpdateForEveryVariant) {
  const struct {
    int variant;
    bool scramble;
  } cases[] = {{0, false}, {1, false}, {4, true}, {2, false}, {3, true}, {3, false}};
  const Bytes img = sample(1100);
  for (const auto& c : cases) {
    SCOPED_TRACE("variant " + std::to_string(c.variant) + (c.scramble ? " scrambled" : ""));
    Wire w(config(c.variant, c.scramble));
    for (const Step& s : entry_steps(c.variant, c.scramble)) EXPECT_EQ(w.send(s.send), s.expect);
    EXPECT_EQ(w.send(bytes(kAnnounce1100)), "OK\r\n");
    EXPECT_EQ(w.send(block_with_crc(img, 0, 528)), "OK\r\n");
    EXPECT_EQ(w.send(block_with_crc(img, 528, 528)), "OK\r\n");
    EXPECT_EQ(w.send(block_with_crc(img, 1056, 44)), "OK\r\nWAIT\r\n");
    auto r = w.m.take_result();
    ASSERT_TRUE(r.has_value());
    EXPECT_TRUE(r->ok);
    EXPECT_EQ(r->image, img);
    EXPECT_EQ(r->stats.blocks, 3u);
    EXPECT_FALSE(w.m.active());
  }
}

TEST(PrinterMachine, BadEntryFramesAreRefusedOrIgnored) {
  auto good4 = record(4, false);
  auto wrong4 = record(4, false, "A1B2C4");
  Bytes bad_sum = common_frame(*good4);
  bad_sum[11] ^= 0x01;  // one checksum character off
  Bytes no_lf = common_frame(*good4);
  no_lf[12] = 0x0D;
  auto wrong2 = record(2, false, "ZZZZZZ");
  Bytes bad_digits = variant2_frame(*record(2, false));
  bad_digits[10] = bad_digits[10] == '9' ? '0' : static_cast<std::uint8_t>(bad_digits[10] + 1);
  const Bytes wake = {0x18, 0x18, 0x18, 0x05};

  const struct {
    const char* name;
    int variant;
    std::vector<Bytes> sends;  // all but the last are answered as in a good exchange
    std::string last_reply;
  } cases[] = {
      {"common frame, wrong access code", 4, {common_frame(*wrong4)}, kRefused},
      {"common frame, bad checksum: no answer", 4, {bad_sum}, ""},
      {"common frame without LF: no answer", 4, {no_lf}, ""},
      {"variant-3 frame to a variant-4 printer", 4, {variant3_frame(*record(3, false))}, kRefused},
      {"common frame to a variant-2 printer", 2, {common_frame(*good4)}, kRefused},
      {"variant 2, wrong access code", 2, {wake, variant2_frame(*wrong2)}, kRefused2},
      {"variant 2, wrong decimal checksum: no answer", 2, {wake, bad_digits}, ""},
      {"variant 2, wake-up with only two CANs", 2, {{0x18, 0x18, 0x05}}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Wire w(config(c.variant, false));
    std::string last;
    for (const Bytes& b : c.sends) last = w.send(b);
    EXPECT_EQ(last, c.last_reply);
    // None of these may lead into update mode: an announce line now gets no "OK".
    EXPECT_EQ(w.send(bytes(kAnnounce1100)), "");
    EXPECT_FALSE(w.m.active());
    auto r = w.m.take_result();
    ASSERT_TRUE(r.has_value());
    EXPECT_FALSE(r->ok);
  }
}

TEST(PrinterMachine, Variant3ReadsTheScrambledCodeAndAllowsOnePlainRetry) {
  // A frame traced by hand, not made by the builder: the printer's unscrambling must read it.
  {
    Wire w(config(3, true));
    EXPECT_EQ(w.send({0x17}), "\x11");
    EXPECT_EQ(w.send(protocol_test::kScrambledA1B2C3), kAccepted);
  }
  // Wrong code in the scrambled frame: refused; the plain retry with the right code is taken.
  {
    Wire w(config(3, true));
    EXPECT_EQ(w.send({0x17}), "\x11");
    EXPECT_EQ(w.send(variant3_frame(*record(3, true, "A1B2C4"))), kRefused);
    EXPECT_TRUE(w.m.active());
    EXPECT_EQ(w.send(protocol_test::kPlainA1B2C3), kAccepted);
    EXPECT_EQ(w.send(bytes(kAnnounce1100)), "OK\r\n");
  }
  // A second refusal ends the update; the retry must be the plain form.
  {
    Wire w(config(3, true));
    w.send({0x17});
    EXPECT_EQ(w.send(variant3_frame(*record(3, true, "XXXXXX"))), kRefused);
    EXPECT_EQ(w.send(variant3_frame(*record(3, true))), kRefused);  // scrambled again: not the retry
    EXPECT_FALSE(w.m.active());
  }
  // The scrambled form without the probe first is refused.
  {
    Wire w(config(3, true));
    EXPECT_EQ(w.send(variant3_frame(*record(3, true))), kRefused);
  }
  // A scrambled frame whose data was changed on the way does not pass as the code.
  {
    Wire w(config(3, true));
    w.send({0x17});
    Bytes f = variant3_frame(*record(3, true));
    f[12] ^= 0x04;
    std::uint8_t x = 0;
    for (std::size_t i = 1; i <= 18; ++i) x ^= f[i];
    protocol::checksum_chars(x, &f[19]);  // outer checksum made right again
    EXPECT_EQ(w.send(f), kRefused);
  }
}

TEST(PrinterMachine, UnscrambleInvertsTheScramblerOnPrintableInput) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> printable(0x20, 0x7E);
  for (int n = 1; n <= 40; ++n) {  // past 31 steps the first key takes its extra turn
    Bytes plain(static_cast<std::size_t>(n) + 2);
    for (int i = 0; i < n; ++i) plain[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(printable(rng));
    Bytes wire = plain;
    protocol::scramble(wire.data(), n);
    Bytes back = wire;
    printer::wire::unscramble(back.data(), back.size());
    EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + n, back.begin())) << "n = " << n;
  }
}

TEST(PrinterMachine, CrcMismatchGetsRetryAndTheBlockIsNotKept) {
  const Bytes img = sample(600);
  Wire w(config(4, true));
  for (const Step& s : entry_steps(4, true)) w.send(s.send);
  EXPECT_EQ(w.send(bytes("FW;600;528;\r\n")), "OK\r\n");
  Bytes bad = block_with_crc(img, 0, 528);
  bad[528] ^= 0x01;  // low CRC byte
  EXPECT_EQ(w.send(bad), "RETRY\r\n");
  Bytes swapped = block_with_crc(img, 0, 528);
  std::swap(swapped[528], swapped[529]);  // high byte first is wrong too
  EXPECT_EQ(w.send(swapped), "RETRY\r\n");
  EXPECT_EQ(w.send(block_with_crc(img, 0, 528)), "OK\r\n");
  EXPECT_EQ(w.send(block_with_crc(img, 528, 72)), "OK\r\nWAIT\r\n");
  auto r = w.m.take_result();
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->image, img);
  EXPECT_EQ(r->stats.crc_errors, 2u);
  EXPECT_EQ(r->stats.retries, 2u);
}

TEST(PrinterMachine, AnnounceLineIsChecked) {
  const struct {
    const char* line;
    const char* reply;
  } cases[] = {
      {"FW 1.0;1100;528;\r\n", "OK\r\n"},
      {"FW;1.0;1100;528;\r\n", "OK\r\n"},      // a ';' inside the version text
      {"FW 1.1;1100;528;\r\n", "ERROR\r\n"},   // not the expected version
      {"FW 1.0;1101;528;\r\n", "ERROR\r\n"},   // not the expected length
      {"FW 1.0;01100;528;\r\n", "ERROR\r\n"},  // leading zero
      {"FW 1.0;1100;0;\r\n", "ERROR\r\n"},
      {"FW 1.0;1100;528\r\n", "ERROR\r\n"},    // no closing ';'
      {"FW 1.0;1100;528;\n", "ERROR\r\n"},     // no CR
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    Config cfg = config(4, true);
    cfg.version = std::string(c.line).rfind("FW;", 0) == 0 ? "FW;1.0" : "FW 1.0";
    cfg.image_length = 1100;
    Wire w(cfg);
    for (const Step& s : entry_steps(4, true)) w.send(s.send);
    EXPECT_EQ(w.send(bytes(c.line)), c.reply);
  }
}

// The announce line on its own: the fields taken from the right, the numbers' limits, and what
// each refusal names.
TEST(PrinterAnnounce, FieldsAreReadFromTheRightWithinTheirLimits) {
  const struct {
    const char* line;
    const char* version;  // read when `why` is empty
    std::uint32_t length, block;
    const char* why;  // a part of the refusal; "" when the line is read
  } cases[] = {
      {"FW;1.0;1100;528;\r\n", "FW;1.0", 1100, 528, ""},
      {";1;65536;\r\n", "", 1, 65536, ""},  // an empty version, the largest block
      {"V;67108864;1;\r\n", "V", 67108864, 1, ""},
      {"V;67108865;1;\r\n", "", 0, 0, "bad image length"},
      {"V;0;528;\r\n", "", 0, 0, "bad image length"},
      {"V;+1;528;\r\n", "", 0, 0, "bad image length"},
      {"V;1;65537;\r\n", "", 0, 0, "bad block size"},
      {"V;1; 528;\r\n", "", 0, 0, "bad block size"},
      {"1100;528;\r\n", "", 0, 0, "is not <version>;<length>;<block size>;"},
      {"V;1100;528;\n", "", 0, 0, "does not end in CR LF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    printer::Announce a;
    const std::string why = printer::parse_announce(c.line, a);
    if (*c.why == 0) {
      EXPECT_EQ(why, "");
      EXPECT_EQ(a.version, c.version);
      EXPECT_EQ(a.image_length, c.length);
      EXPECT_EQ(a.block_size, c.block);
    } else {
      EXPECT_NE(why.find(c.why), std::string::npos) << why;
    }
  }
}

TEST(PrinterMachine, FaultOptionsChangeTheReplyWhereTheyStrike) {
  const Bytes img = sample(1100);
  using printer::Stage;
  using printer::StagePoint;
  struct Case {
    const char* name;
    printer::Faults faults;
    std::vector<std::string> replies;  // query, entry frame, announce, blocks 1..3 (with the closing reply)
    bool ok;
  };
  auto with = [](auto set) {
    printer::Faults f;
    set(f);
    return f;
  };
  const Case cases[] = {
      {"silent query", with([](auto& f) { f.silent = StagePoint{Stage::kQuery}; }),
       {"", kAccepted, "OK\r\n", "OK\r\n", "OK\r\n", "OK\r\nWAIT\r\n"}, true},
      {"garbage handshake", with([](auto& f) { f.garbage = StagePoint{Stage::kHandshake}; }),
       {kQueryReply12345, "GARBAGE\r\n", "", "", "", ""}, false},
      {"refuse handshake", with([](auto& f) { f.refuse_handshake = true; }),
       {kQueryReply12345, kRefused, "", "", "", ""}, false},
      {"silent announce", with([](auto& f) { f.silent = StagePoint{Stage::kAnnounce}; }),
       {kQueryReply12345, kAccepted, "", "", "", ""}, false},
      {"silent block 2", with([](auto& f) { f.silent = StagePoint{Stage::kBlock, 2}; }),
       {kQueryReply12345, kAccepted, "OK\r\n", "OK\r\n", "", ""}, false},
      {"bad verdict for block 3", with([](auto& f) { f.bad_reply_block = 3; }),
       {kQueryReply12345, kAccepted, "OK\r\n", "OK\r\n", "OK\r\n", "BUSY\r\n"}, false},
      {"garbage instead of WAIT", with([](auto& f) { f.garbage = StagePoint{Stage::kWait}; }),
       {kQueryReply12345, kAccepted, "OK\r\n", "OK\r\n", "OK\r\n", "OK\r\nGARBAGE\r\n"}, false},
      {"no WAIT", with([](auto& f) { f.no_wait = true; }),
       {kQueryReply12345, kAccepted, "OK\r\n", "OK\r\n", "OK\r\n", "OK\r\n"}, false},
  };
  auto r4 = record(4, true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Config cfg = config(4, true);
    cfg.faults = c.faults;
    Wire w(cfg);
    const std::vector<Bytes> sends = {kQuery,
                                      common_frame(*r4),
                                      bytes(kAnnounce1100),
                                      block_with_crc(img, 0, 528),
                                      block_with_crc(img, 528, 528),
                                      block_with_crc(img, 1056, 44)};
    for (std::size_t i = 0; i < sends.size(); ++i) EXPECT_EQ(w.send(sends[i]), c.replies[i]) << "send " << i;
    auto r = w.m.take_result();
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->ok, c.ok);
  }
}

TEST(PrinterMachine, RetryEveryAndDisconnectCountBlocksFromOne) {
  const Bytes img = sample(1100);
  {
    Config cfg = config(4, true);
    cfg.faults.retry_every = 2;
    Wire w(cfg);
    for (const Step& s : entry_steps(4, true)) w.send(s.send);
    w.send(bytes(kAnnounce1100));
    EXPECT_EQ(w.send(block_with_crc(img, 0, 528)), "OK\r\n");
    EXPECT_EQ(w.send(block_with_crc(img, 528, 528)), "RETRY\r\n");
    EXPECT_EQ(w.send(block_with_crc(img, 528, 528)), "OK\r\n");
    EXPECT_EQ(w.send(block_with_crc(img, 1056, 44)), "OK\r\nWAIT\r\n");
    auto r = w.m.take_result();
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->image, img);
    EXPECT_EQ(r->stats.retries, 1u);
    EXPECT_EQ(r->stats.crc_errors, 0u);
  }
  {
    // A storm: three RETRYs for each chosen block, and the count starts again at the next one.
    Config cfg = config(4, true);
    cfg.faults.retry_every = 1;
    cfg.faults.retry_times = 3;
    Wire w(cfg);
    for (const Step& s : entry_steps(4, true)) w.send(s.send);
    w.send(bytes(kAnnounce1100));
    for (std::size_t off : {0u, 528u}) {
      for (int i = 0; i < 3; ++i) EXPECT_EQ(w.send(block_with_crc(img, off, 528)), "RETRY\r\n") << off << " " << i;
      EXPECT_EQ(w.send(block_with_crc(img, off, 528)), "OK\r\n") << off;
    }
    for (int i = 0; i < 3; ++i) EXPECT_EQ(w.send(block_with_crc(img, 1056, 44)), "RETRY\r\n");
    EXPECT_EQ(w.send(block_with_crc(img, 1056, 44)), "OK\r\nWAIT\r\n");
    auto r = w.m.take_result();
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->image, img);
    EXPECT_EQ(r->stats.retries, 9u);
  }
  {
    Config cfg = config(4, true);
    cfg.faults.disconnect_at_block = 2;
    Wire w(cfg);
    for (const Step& s : entry_steps(4, true)) w.send(s.send);
    w.send(bytes(kAnnounce1100));
    EXPECT_EQ(w.send(block_with_crc(img, 0, 528)), "OK\r\n");
    EXPECT_FALSE(w.m.disconnect_requested());
    EXPECT_EQ(w.send(block_with_crc(img, 528, 528)), "");
    EXPECT_TRUE(w.m.disconnect_requested());
  }
}

TEST(PrinterMachine, ANewUpdateStartsCleanAfterAFailedOne) {
  const Bytes img = sample(600);
  Config cfg = config(4, true);
  Wire w(cfg);
  for (const Step& s : entry_steps(4, true)) w.send(s.send);
  w.send(bytes("FW;600;528;\r\n"));
  w.send(block_with_crc(img, 0, 528));
  w.m.abandon("the updater went away");  // mid-image
  ASSERT_TRUE(w.m.take_result().has_value());
  for (const Step& s : entry_steps(4, true)) EXPECT_EQ(w.send(s.send), s.expect);
  EXPECT_EQ(w.send(bytes("FW;600;528;\r\n")), "OK\r\n");
  EXPECT_EQ(w.send(block_with_crc(img, 0, 528)), "OK\r\n");
  EXPECT_EQ(w.send(block_with_crc(img, 528, 72)), "OK\r\nWAIT\r\n");
  auto r = w.m.take_result();
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->image, img);
}

TEST(PrinterOptions, BadOptionsAreRefusedWithAMessage) {
  const std::vector<std::vector<const char*>> bad = {
      {"--variant", "5"},          {"--scramble", "2"},       {"--access-code", "ABCDE"},
      {"--silent", "block:0"},     {"--silent", "blocks"},    {"--garbage", "later"},
      {"--baud", "4800"},          {"--baud", "115201"},      {"--retry-every", "0"},
      {"--delay", "-1"},           {"--bogus"},               {"--out"},
      {"--retry-times", "0"},      {"--retry-times", "1001"},
      {"--serial", "A;B"},         {"--device", "/dev/x", "--link", "/tmp/y"}, {"stray"},
      {"--remove-at-block", "0"},  {"--serials", "A,,B"},   {"--serials", "A,B;C"},
      {"--serials", "A,B", "--fault-on", "3"},              {"--serials", "A,B", "--fault-on", "1,"},
      {"--fault-on", "1"},         {"--gap", "10"},         {"--off-after-failure", "10"},
      {"--serials", "A", "--gap", "600001"},                {"--serials", "A", "--once"},
      {"--serials", "A", "--serial", "B"},
      {"--delay", "0x10"},         {"--baud", "+9600"},     {"--variant", " 3"},     {"--scramble", "true"},
  };
  for (const auto& args : bad) {
    std::vector<const char*> argv = {"zorven-printer"};
    argv.insert(argv.end(), args.begin(), args.end());
    printer::Options o;
    bool help = false;
    EXPECT_NE(printer::parse_options(static_cast<int>(argv.size()), argv.data(), o, help), "") << args[0];
  }
  const char* good[] = {"zorven-printer", "--variant", "3", "--scramble", "0", "--access-code", "QWE123",
                        "--silent", "block:7", "--baud", "115200", "--once", "--image-length", "655360",
                        "--delay", "010"};
  printer::Options o;
  bool help = false;
  ASSERT_EQ(printer::parse_options(static_cast<int>(std::size(good)), good, o, help), "");
  EXPECT_FALSE(help);
  EXPECT_EQ(o.config.variant, 3);
  EXPECT_FALSE(o.config.scramble);
  EXPECT_EQ(std::string(o.config.access_code.begin(), o.config.access_code.end()), "QWE123");
  ASSERT_TRUE(o.config.faults.silent.has_value());
  EXPECT_EQ(o.config.faults.silent->block, 7u);
  EXPECT_EQ(o.baud, 115200u);
  EXPECT_TRUE(o.once);
  EXPECT_EQ(o.config.image_length, 655360u);
  EXPECT_EQ(o.delay_ms, 10u);  // decimal, not octal

  // --help is answered with the generated text, which gives each option's range and default.
  const char* ask[] = {"zorven-printer", "--help"};
  printer::Options h;
  ASSERT_EQ(printer::parse_options(2, ask, h, help), "");
  EXPECT_TRUE(help);
  const std::string text = printer::help_text();
  for (const char* part : {"--variant N:INT in [0 - 4]=4", "--baud N:UINT in [9600 - 115200]", "=ZV4711",
                           "--gap MS:UINT in [0 - 600000]=1000", "--no-wait"})
    EXPECT_NE(text.find(part), std::string::npos) << part;

  const char* line[] = {"zorven-printer", "--serials", "A,B,A", "--fault-on", "3,1", "--gap", "0",
                        "--off-after-failure", "250", "--remove-at-block", "4"};
  printer::Options l;
  ASSERT_EQ(printer::parse_options(11, line, l, help), "");
  EXPECT_EQ(l.serials, (std::vector<std::string>{"A", "B", "A"}));
  EXPECT_EQ(l.fault_on, (std::vector<std::uint32_t>{3, 1}));
  EXPECT_EQ(l.gap_ms, 0u);
  EXPECT_EQ(l.off_after_failure_ms, 250u);
  EXPECT_EQ(l.config.faults.remove_at_block, 4u);
}

// The line of printers under a test clock in milliseconds: identification queries, closes of the
// port and whole variant-4 updates at given times.
enum class Act { kQuery, kClose, kUpdate };
struct LineStep {
  std::int64_t ms;
  Act act;
  // kQuery: the serial number that answers ("": none). kUpdate: how the update ended ("update ok",
  // "update failed: <reason>"; "": the printer saw no update).
  std::string expect;
};

struct LineBench {
  explicit LineBench(printer::LineupConfig c) : line(std::move(c), 0) {}

  // Feeds `b` to whichever printer is on at `ms`; its answer, and the updates that ended, are kept.
  std::string send(const Bytes& b, std::int64_t ms) {
    at(ms);
    std::string out;
    for (std::uint8_t byte : b) {
      Machine* m = line.on();
      if (m == nullptr) continue;
      m->feed(byte);
      for (const std::string& r : m->take_replies()) out += r;
      collect(ms);
    }
    return out;
  }
  void at(std::int64_t ms) {
    line.tick(ms * 1'000'000);
    collect(ms);
  }
  void collect(std::int64_t ms) {
    while (auto r = line.take_result(ms * 1'000'000)) results.push_back(*r);
  }
  std::string step(const LineStep& s, const Bytes& img) {
    switch (s.act) {
      case Act::kQuery: {
        const std::string r = send(kQuery, s.ms);
        return r.size() > 4 ? r.substr(4, r.find(';') - 4) : "";
      }
      case Act::kClose:
        at(s.ms);
        line.port_closed(s.ms * 1'000'000);
        collect(s.ms);
        return "";
      case Act::kUpdate: {
        // As the updater goes: each block again after RETRY, and no further after a failure.
        results.clear();
        std::vector<Bytes> sends;
        for (const Step& e : entry_steps(4, true)) sends.push_back(e.send);
        sends.push_back(bytes(kAnnounce1100));
        for (std::size_t off = 0; off < img.size(); off += 528)
          sends.push_back(block_with_crc(img, off, std::min<std::size_t>(528, img.size() - off)));
        for (const Bytes& b : sends) {
          for (int tries = 0; tries < 10 && send(b, s.ms) == "RETRY\r\n"; ++tries) {
          }
          if (!results.empty() && results.back().attempted) break;
        }
        for (auto r = results.rbegin(); r != results.rend(); ++r)
          if (r->attempted) return r->ok ? "update ok" : "update failed: " + r->reason;
        return "";
      }
    }
    return "";
  }

  printer::Lineup line;
  std::vector<printer::Result> results;
};

TEST(PrinterLineup, PrintersComeAndGoAsOnAStationsLine) {
  using printer::Stage;
  using printer::StagePoint;
  auto with = [](auto set) {
    printer::Faults f;
    set(f);
    return f;
  };
  const std::string refused = "update failed: entry frame refused: refused by fault option";
  const struct {
    const char* name;
    std::vector<std::string> serials;
    std::vector<std::uint32_t> fault_on;
    printer::Faults faults;
    bool close_visible;
    std::vector<LineStep> steps;
    std::vector<std::string> outcomes;  // each printer's, in order
    bool done;
  } cases[] = {
      {"each goes off after its WAIT, the next comes on a gap later; a query alone is no failure",
       {"A", "B"}, {}, {}, true,
       {{0, Act::kQuery, "A"}, {0, Act::kClose, ""}, {4000, Act::kQuery, "A"}, {4000, Act::kUpdate, "update ok"},
        {4000, Act::kQuery, ""}, {4999, Act::kQuery, ""}, {5000, Act::kQuery, "B"}, {5000, Act::kUpdate, "update ok"},
        {5000, Act::kQuery, ""}, {9000, Act::kQuery, ""}},
       {"update ok", "update ok"}, true},
      {"a failed printer answers queries until taken away, timed from the first close after the failure",
       {"A", "B"}, {1}, with([](auto& f) { f.refuse_handshake = true; }), true,
       {{0, Act::kUpdate, refused}, {100, Act::kQuery, "A"}, {500, Act::kClose, ""}, {600, Act::kQuery, "A"},
        {700, Act::kClose, ""}, {3499, Act::kQuery, "A"}, {3500, Act::kQuery, ""}, {4499, Act::kQuery, ""},
        {4500, Act::kQuery, "B"}, {4500, Act::kUpdate, "update ok"}},
       {refused, "update ok"}, true},
      {"on a device the removal is timed from the failed update's end",
       {"A", "B"}, {1}, with([](auto& f) { f.refuse_handshake = true; }), false,
       {{0, Act::kUpdate, refused}, {2999, Act::kQuery, "A"}, {3000, Act::kQuery, ""}, {4000, Act::kQuery, "B"}},
       {refused, "never updated"}, false},
      {"faults strike only the printers named",
       {"A", "B", "C"}, {2}, with([](auto& f) { f.bad_reply_block = 2; }), true,
       {{0, Act::kUpdate, "update ok"}, {1000, Act::kUpdate, "update failed: bad verdict sent for block 2"},
        {1000, Act::kClose, ""}, {3999, Act::kQuery, "B"}, {4000, Act::kQuery, ""}, {5000, Act::kUpdate, "update ok"}},
       {"update ok", "update failed: bad verdict sent for block 2", "update ok"}, true},
      {"removed at block K: silent at once, the next a gap later",
       {"A", "B"}, {1}, with([](auto& f) { f.remove_at_block = 2; }), true,
       {{0, Act::kUpdate, "update failed: removed at block 2"}, {1, Act::kQuery, ""}, {999, Act::kQuery, ""},
        {1000, Act::kQuery, "B"}, {1000, Act::kUpdate, "update ok"}},
       {"removed at block 2", "update ok"}, true},
      {"one that cannot answer the query is taken away too; a serial may come twice",
       {"A", "A"}, {1}, with([](auto& f) { f.silent = StagePoint{Stage::kQuery}; }), true,
       {{0, Act::kQuery, ""}, {0, Act::kClose, ""}, {3999, Act::kQuery, ""}, {4000, Act::kQuery, "A"},
        {4000, Act::kUpdate, "update ok"}},
       {"never updated", "update ok"}, true},
      {"without serial numbers the one printer stays on after WAIT",
       {}, {}, {}, true,
       {{0, Act::kUpdate, "update ok"}, {0, Act::kClose, ""}, {60000, Act::kUpdate, "update ok"}},
       {"update ok"}, false},
      {"without serial numbers a removal ends the line",
       {}, {}, with([](auto& f) { f.remove_at_block = 1; }), true,
       {{0, Act::kUpdate, "update failed: removed at block 1"}, {60000, Act::kQuery, ""}},
       {"removed at block 1"}, true},
  };
  const Bytes img = sample(1100);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    printer::LineupConfig lc;
    lc.printer = config(4, true);
    lc.printer.faults = c.faults;
    lc.serials = c.serials;
    lc.fault_on = c.fault_on;
    lc.close_visible = c.close_visible;
    lc.gap_ns = 1'000'000'000;
    lc.off_after_failure_ns = 3'000'000'000;
    LineBench bench(lc);
    for (const LineStep& s : c.steps) EXPECT_EQ(bench.step(s, img), s.expect) << "at " << s.ms << " ms";
    std::vector<std::string> outcomes;
    for (const printer::PrinterRecord& p : bench.line.printers()) outcomes.push_back(p.outcome);
    EXPECT_EQ(outcomes, c.outcomes);
    EXPECT_EQ(bench.line.done(), c.done);
  }
}

TEST(PrinterLineup, TheRecordKeepsTheFiguresOfTheUpdatesBegun) {
  // A forced retry on the one faulty printer, and queries around the updates that are not updates.
  printer::LineupConfig lc;
  lc.printer = config(4, true);
  lc.printer.faults.retry_every = 2;
  lc.serials = {"A", "B"};
  lc.fault_on = {2};
  LineBench bench(lc);
  const Bytes img = sample(1100);
  EXPECT_EQ(bench.step({0, Act::kQuery, ""}, img), "A");
  bench.step({0, Act::kClose, ""}, img);
  EXPECT_EQ(bench.step({10, Act::kUpdate, ""}, img), "update ok");
  EXPECT_EQ(bench.step({2000, Act::kUpdate, ""}, img), "update ok");
  const auto& p = bench.line.printers();
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[0].attempts, 1u);
  EXPECT_FALSE(p[0].faulty);
  EXPECT_EQ(p[0].stats.retries, 0u);
  EXPECT_TRUE(p[1].faulty);
  EXPECT_EQ(p[1].stats.retries, 1u);
  EXPECT_EQ(p[1].stats.blocks, 3u);
  EXPECT_EQ(p[1].stats.bytes, 1100u);
  EXPECT_EQ(p[1].power, printer::Power::kOff);
}

}  // namespace
