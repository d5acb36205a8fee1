// Entry frames and the scrambler. Expected frames were worked out by hand from the frame layouts
// and the checksum rules, not produced by the builders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "protocol/frames.h"
#include "protocol/scrambler.h"
#include "expected_frames.h"
#include "tests/support/records.h"

namespace {

using protocol_test::Bytes;

template <typename Build>
Bytes built(Build build, const package::Record& r) {
  std::uint8_t buf[protocol::kLongestFrame + 8];
  std::fill(std::begin(buf), std::end(buf), 0xEE);
  const std::int32_t n = build(r, buf);
  EXPECT_TRUE(std::all_of(buf + protocol::kLongestFrame, std::end(buf), [](std::uint8_t b) { return b == 0xEE; }))
      << "builder wrote past the longest frame";
  return Bytes(buf, buf + n);
}

TEST(ChecksumChars, NibblesBecome0x30To0x3FNeverHexLetters) {
  struct Case { std::uint8_t v; std::uint8_t hi, lo; };
  const Case cases[] = {{0x00, '0', '0'}, {0xFF, '?', '?'}, {0x3C, '3', '<'}, {0xAF, ':', '?'}, {0x5A, '5', ':'}};
  for (const Case& c : cases) {
    std::uint8_t out[2] = {};
    protocol::checksum_chars(c.v, out);
    EXPECT_EQ(out[0], c.hi) << std::hex << int(c.v);
    EXPECT_EQ(out[1], c.lo) << std::hex << int(c.v);
  }
}

struct CodeFrames {
  char code[7];
  Bytes common, variant3_plain, variant2;
};

const CodeFrames kCodes[] = {
    {"A1B2C3", protocol_test::kCommonA1B2C3, protocol_test::kPlainA1B2C3, protocol_test::kVariant2A1B2C3},
    {"PRN00U",
     // XOR of bytes 1..9 = 0x3C, sent as '3' '<'
     {0x02, 0x29, 0x21, 0x2D, 0x50, 0x52, 0x4E, 0x30, 0x30, 0x55, 0x33, 0x3C, 0x0A},
     // XOR of bytes 1..16 = 0x10
     {0x02, 0x30, 0x21, 0x4E, 0x53, 0x3B, 0x34, 0x3B, 0x31, 0x3B, 0x50, 0x52, 0x4E, 0x30, 0x30, 0x55, 0x3B, 0x31,
      0x30, 0x0A},
     // sum of bytes 1..8 = 73
     {0x02, 0x75, 0x50, 0x52, 0x4E, 0x30, 0x30, 0x55, 0x2F, 0x37, 0x33, 0x03}},
};

TEST(EntryFrames, ByteForByteForTwoAccessCodes) {
  for (const CodeFrames& c : kCodes) {
    SCOPED_TRACE(c.code);
    auto r = fakes::RecordBuilder().access_code(c.code).build();
    EXPECT_EQ(built(protocol::build_common_frame, *r), c.common);
    EXPECT_EQ(built(protocol::build_variant3_frame, *r), c.variant3_plain);
    EXPECT_EQ(built(protocol::build_variant2_frame, *r), c.variant2);
  }
}

TEST(EntryFrames, Variant2DecimalChecksumKeepsTwoDigits) {
  struct Case { char code[7]; std::uint8_t tens, units; };
  // 0x75 + 0x2F = 164; the access codes bring the 8-bit sum to 7, 200 and 255.
  const Case cases[] = {{"0000ZI", '0', '7'}, {"000004", '0', '0'}, {"0000ZA", '5', '5'}};
  for (const Case& c : cases) {
    auto r = fakes::RecordBuilder().access_code(c.code).variant(2).build();
    const Bytes f = built(protocol::build_variant2_frame, *r);
    ASSERT_EQ(f.size(), 12u);
    EXPECT_EQ(f[9], c.tens) << c.code;
    EXPECT_EQ(f[10], c.units) << c.code;
    EXPECT_EQ(f[11], 0x03) << c.code;
  }
}

TEST(EntryFrames, Variant3ScrambledWhenFlagIsAnyNonZeroValue) {
  for (std::uint32_t flag : {1u, 0x80000000u}) {
    auto r = fakes::RecordBuilder().access_code("A1B2C3").variant(3).scramble(flag).build();
    EXPECT_EQ(built(protocol::build_variant3_frame, *r), protocol_test::kScrambledA1B2C3) << flag;
    EXPECT_EQ(r->scramble_flag, flag);  // the builder only reads the flag
  }
}

// Reference for the masks of step i, in closed form: the first key turns 1 bit per step plus 3
// more at steps 31, 62, ...; the second turns 2 bits per step.
std::uint32_t rotl(std::uint32_t v, unsigned k) {
  k %= 32;
  return k == 0 ? v : (v << k) | (v >> (32 - k));
}
bool is_excluded(std::uint8_t v) {
  for (std::uint8_t e : {0x00, 0x02, 0x03, 0x05, 0x0A, 0x10, 0x11, 0x16, 0x18, 0x19, 0x1A})
    if (v == e) return true;
  return false;
}
std::uint8_t reference_byte(std::uint8_t b, unsigned i, bool extra_rotation) {
  const unsigned turns1 = i + (extra_rotation ? 3 * (i / 31) : 0);
  const auto m1 = static_cast<std::uint8_t>(rotl(0x5A3C91E7u, turns1));
  const auto m2 = static_cast<std::uint8_t>(rotl(0x2D7B04C9u, 2 * i) & 0x7E);
  std::uint8_t s = static_cast<std::uint8_t>(b ^ m1);
  if (is_excluded(s)) s = b;
  std::uint8_t u = static_cast<std::uint8_t>(s ^ m2);
  if (is_excluded(u)) u = s;
  return u;
}

TEST(Scrambler, ExtraRotationEvery31StepsOnALongRun) {
  constexpr int n = 70;  // steps 0..71: the extra rotation lands at steps 31 and 62
  std::uint8_t buf[n + 2];
  for (int i = 0; i < n; ++i) buf[i] = static_cast<std::uint8_t>('A' + i % 26);
  std::uint8_t plain[n + 2];
  std::copy(buf, buf + n, plain);
  std::uint8_t x = 0;
  for (int i = 0; i < n; ++i) x ^= plain[i];
  protocol::checksum_chars(x, plain + n);

  EXPECT_EQ(protocol::scramble(buf, n), 1);
  int differs_without_extra = 0;
  for (int i = 0; i < n + 2; ++i) {
    EXPECT_EQ(buf[i], reference_byte(plain[i], i, true)) << "step " << i;
    if (reference_byte(plain[i], i, true) != reference_byte(plain[i], i, false)) ++differs_without_extra;
  }
  // The fixture must be able to tell the rotation apart: steps 0..30 agree either way, and from
  // step 31 on a missing or misplaced rotation shows.
  for (int i = 0; i < 31; ++i) EXPECT_EQ(reference_byte(plain[i], i, true), reference_byte(plain[i], i, false));
  EXPECT_NE(reference_byte(plain[31], 31, true), reference_byte(plain[31], 31, false));
  EXPECT_GT(differs_without_extra, 20);
}

TEST(Scrambler, StageKeepsTheByteWhenItsResultWouldBeExcluded) {
  struct Case { std::uint8_t in, out; const char* why; };
  const Case cases[] = {
      // Step 0 masks: stage 1 0xE7, stage 2 0x48.
      {0xED, 0xA5, "stage 1 would give LF: keeps 0xED, stage 2 then gives 0xED ^ 0x48"},
      {0xAD, 0x4A, "stage 1 gives 0x4A, stage 2 would give STX: keeps 0x4A"},
      {0x53, 0xFC, "no exclusion: 0x53 ^ 0xE7 ^ 0x48"},
  };
  for (const Case& c : cases) {
    std::uint8_t buf[3] = {c.in, 0, 0};
    protocol::scramble(buf, 1);
    EXPECT_EQ(buf[0], c.out) << c.why;
  }
}

TEST(Scrambler, AllowedInputNeverBecomesAnExcludedValue) {
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int> byte(0, 255), len(1, 120);
  std::uint8_t buf[122];
  for (int round = 0; round < 2000; ++round) {
    const int n = len(rng);
    for (int i = 0; i < n; ++i) {
      std::uint8_t b;
      do b = static_cast<std::uint8_t>(byte(rng)); while (is_excluded(b));
      buf[i] = b;
    }
    protocol::scramble(buf, n);
    for (int i = 0; i < n + 2; ++i) ASSERT_FALSE(is_excluded(buf[i])) << "round " << round << " step " << i;
  }
}

}  // namespace
