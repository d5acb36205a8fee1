// The virtual printer's wire encoding (tools/printer/wire.h) against the updater's (protocol/).
// The two are written apart so that the printer can judge the updater; this is the one program
// that links both, and it compares them over every byte value and over thousands of random inputs
// (a fixed seed, so a failure repeats). A mistake on either side shows up here as a disagreement
// rather than as two sides agreeing on the wrong bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "package/package.h"
#include "protocol/frames.h"
#include "protocol/scrambler.h"
#include "tools/printer/machine.h"
#include "tools/printer/wire.h"
#include "tests/support/records.h"

namespace {

namespace wire = printer::wire;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kSeed = 0x5EED0417u;

std::string hex(const std::uint8_t* p, std::size_t n) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    s += kHex[p[i] >> 4];
    s += kHex[p[i] & 15];
    s += ' ';
  }
  return s;
}
std::string hex(const Bytes& b) { return hex(b.data(), b.size()); }

// Random bytes: any value, or only values the scrambler can undo exactly (no excluded value).
struct RandomBytes {
  std::mt19937 rng{kSeed};
  Bytes operator()(std::size_t n, bool undoable) {
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes b(n);
    for (std::uint8_t& v : b) {
      do v = static_cast<std::uint8_t>(byte(rng));
      while (undoable && wire::is_excluded(v));
    }
    return b;
  }
};

TEST(PrinterWire, ChecksumCharactersAndExcludedValuesAgreeOnEveryByte) {
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<std::uint8_t>(i);
    std::uint8_t product[2];
    protocol::checksum_chars(v, product);
    const std::array<std::uint8_t, 2> printer = wire::checksum_chars(v);
    EXPECT_EQ(hex(product, 2), hex(printer.data(), 2)) << "checksum characters of " << hex(&v, 1);
    EXPECT_EQ(protocol::is_excluded(v), wire::is_excluded(v)) << "excluded? " << hex(&v, 1);
  }
}

// Far past steps 31, 62, 93 ..., where the first key word takes its extra turns.
TEST(PrinterWire, KeySchedulesAgree) {
  protocol::ScrambleKeys keys;
  for (std::size_t i = 0; i < 4096; ++i) {
    const protocol::ScrambleMasks product = keys.step();
    const wire::Masks printer = wire::masks_at(i);
    ASSERT_EQ(product.stage1, printer.stage1) << "stage-1 mask at step " << i;
    ASSERT_EQ(product.stage2, printer.stage2) << "stage-2 mask at step " << i;
  }
}

// Both scramblers give the same bytes for any input, excluded values included (where a stage
// keeps its byte), and the printer undoes the updater's output whenever the plain bytes hold no
// excluded value.
TEST(PrinterWire, ScramblersAgreeAndThePrinterUndoesTheUpdaters) {
  RandomBytes random;
  std::uniform_int_distribution<int> length(0, 100);
  int undone = 0;
  for (int c = 0; c < 4000; ++c) {
    const auto n = static_cast<std::size_t>(length(random.rng));
    const Bytes plain = random(n + 2, c % 2 == 1);
    Bytes product = plain;
    protocol::scramble(product.data(), static_cast<std::int32_t>(n));
    Bytes printer = plain;
    wire::scramble(printer.data(), n);
    ASSERT_EQ(hex(product), hex(printer)) << "case " << c << ", plain " << hex(plain);

    // What went into the scrambler: the plain bytes and their checksum characters (with n = 0,
    // the two bytes as they were).
    Bytes want = plain;
    if (n > 0) {
      const std::array<std::uint8_t, 2> chars = wire::checksum_chars(wire::xor_of(plain.data(), n));
      std::copy(chars.begin(), chars.end(), want.begin() + static_cast<std::ptrdiff_t>(n));
    }
    if (std::any_of(want.begin(), want.end(), wire::is_excluded)) continue;
    Bytes back = product;
    wire::unscramble(back.data(), back.size());
    ASSERT_EQ(hex(back), hex(want)) << "case " << c << ", scrambled " << hex(product);
    ++undone;
  }
  EXPECT_GT(undone, 2000);  // the round trip really ran, not just the comparison
}

// The printer's answer to a sequence of sends: the replies to the last one.
std::string answer(const printer::Config& config, std::initializer_list<Bytes> sends) {
  printer::Machine m(config);
  std::string out;
  for (const Bytes& b : sends) {
    out.clear();
    m.feed(b.data(), b.size());
    for (const std::string& r : m.take_replies()) out += r;
  }
  return out;
}

// Every entry frame the updater builds for a random access code passes the printer set to that
// code: checksum characters, the variant-2 decimal checksum and, in the scrambled variant-3 frame,
// the data the printer recovers and its inner checksum characters.
TEST(PrinterWire, EntryFramesForRandomAccessCodesPassThePrinter) {
  RandomBytes random;
  auto record = fakes::RecordBuilder().build();
  const std::string accepted = printer::wire::framed_reply(printer::kStatusAccepted, "");
  const std::string accepted2 = printer::wire::framed_reply(printer::kStatusAccepted, printer::kVariant2ReplyData);
  const Bytes probe = {0x17};
  const Bytes wake_up = {0x18, 0x18, 0x18, 0x05};
  const Bytes prefix = {'S', ';', '4', ';', '1', ';'};

  for (int c = 0; c < 3000; ++c) {
    // Any byte for the frames that go as they are; the scrambled frame needs a code the printer
    // can undo (printable codes are).
    const bool scrambled = c % 2 == 1;
    const Bytes code = random(package::kAccessCodeSize, scrambled);
    std::memcpy(record->access_code, code.data(), code.size());
    record->scramble_flag = scrambled ? 1 : 0;
    printer::Config config;
    std::copy(code.begin(), code.end(), config.access_code.begin());
    config.scramble = scrambled;
    const std::string what = "code " + hex(code);

    Bytes f(protocol::kLongestFrame);
    f.resize(static_cast<std::size_t>(protocol::build_common_frame(*record, f.data())));
    config.variant = 4;
    ASSERT_EQ(answer(config, {f}), accepted) << "common frame " << hex(f) << ", " << what;

    f.assign(protocol::kLongestFrame, 0);
    f.resize(static_cast<std::size_t>(protocol::build_variant2_frame(*record, f.data())));
    config.variant = 2;
    ASSERT_EQ(answer(config, {wake_up, f}), accepted2) << "variant-2 frame " << hex(f) << ", " << what;

    f.assign(protocol::kLongestFrame, 0);
    f.resize(static_cast<std::size_t>(protocol::build_variant3_frame(*record, f.data())));
    config.variant = 3;
    if (scrambled) {
      ASSERT_EQ(f.size(), 22u);
      Bytes body(f.begin() + 4, f.begin() + 19);
      wire::unscramble(body.data(), body.size());
      Bytes want = prefix;
      want.insert(want.end(), code.begin(), code.end());
      want.push_back(';');
      const std::array<std::uint8_t, 2> inner = wire::checksum_chars(wire::xor_of(want.data(), want.size()));
      want.insert(want.end(), inner.begin(), inner.end());
      ASSERT_EQ(hex(body), hex(want)) << "scrambled variant-3 frame " << hex(f) << ", " << what;
      ASSERT_EQ(answer(config, {probe, f}), accepted) << "scrambled variant-3 frame " << hex(f) << ", " << what;
    } else {
      ASSERT_EQ(answer(config, {f}), accepted) << "plain variant-3 frame " << hex(f) << ", " << what;
    }
  }
}

}  // namespace
