#include "tools/printer/wire.h"

#include <algorithm>
#include <bit>

namespace printer::wire {
namespace {

// The sixteen checksum characters, nibble 0 to 15.
constexpr char kNibbleChars[] = "0123456789:;<=>?";

constexpr std::uint8_t kExcluded[] = {0x00, 0x02, 0x03, 0x05, 0x0A, 0x10, 0x11, 0x16, 0x18, 0x19, 0x1A};

// The key words at the start of every scrambler run.
constexpr std::uint32_t kFirstKeyStart = 0x5A3C91E7u;
constexpr std::uint32_t kSecondKeyStart = 0x2D7B04C9u;
constexpr std::uint8_t kStage2Bits = 0x7E;
constexpr std::size_t kExtraTurnEvery = 31;  // steps between the first key word's extra turns
constexpr int kExtraTurn = 3;

// One stage: the byte takes the masked value unless that value is excluded.
std::uint8_t stage(std::uint8_t b, std::uint8_t mask) {
  const auto t = static_cast<std::uint8_t>(b ^ mask);
  return is_excluded(t) ? b : t;
}

// Inverse of a stage for a byte that was not excluded before it: the stage kept the byte exactly
// when the masked value would have been excluded (a kept byte masked again gives that value back).
std::uint8_t unstage(std::uint8_t out, std::uint8_t mask) {
  const auto t = static_cast<std::uint8_t>(out ^ mask);
  return is_excluded(t) ? out : t;
}

}  // namespace

std::array<std::uint8_t, 2> checksum_chars(std::uint8_t v) {
  return {static_cast<std::uint8_t>(kNibbleChars[v / 16]), static_cast<std::uint8_t>(kNibbleChars[v % 16])};
}

std::uint8_t xor_of(const std::uint8_t* p, std::size_t n) {
  std::uint8_t v = 0;
  for (std::size_t i = 0; i < n; ++i) v ^= p[i];
  return v;
}

bool checksum_matches(std::uint8_t v, const std::uint8_t* chars) {
  const std::array<std::uint8_t, 2> want = checksum_chars(v);
  return chars[0] == want[0] && chars[1] == want[1];
}

bool framed_message_intact(const std::uint8_t* f, std::size_t n) {
  // Covered: offset 1 to the byte before the checksum characters (not the STX, not the LF).
  return n >= 7 && f[n - 1] == kLf && checksum_matches(xor_of(f + 1, n - 4), f + n - 3);
}

std::string framed_reply(const char status[2], const std::string& data) {
  std::string f;
  f += static_cast<char>(kStx);
  f += static_cast<char>(kLengthBase + data.size());
  f += status[0];
  f += status[1];
  f += data;
  const std::array<std::uint8_t, 2> chars =
      checksum_chars(xor_of(reinterpret_cast<const std::uint8_t*>(f.data()) + 1, f.size() - 1));
  f += static_cast<char>(chars[0]);
  f += static_cast<char>(chars[1]);
  f += static_cast<char>(kLf);
  return f;
}

std::array<std::uint8_t, 2> decimal_checksum(const std::uint8_t* frame) {
  unsigned sum = 0;
  for (std::size_t i = 1; i <= 8; ++i) sum += frame[i];
  const unsigned two = (sum % 256u) % 100u;
  return {static_cast<std::uint8_t>('0' + two / 10), static_cast<std::uint8_t>('0' + two % 10)};
}

bool is_excluded(std::uint8_t v) { return std::find(std::begin(kExcluded), std::end(kExcluded), v) != std::end(kExcluded); }

Masks masks_at(std::size_t step) {
  const std::size_t first_turn = step + kExtraTurn * (step / kExtraTurnEvery);
  const std::size_t second_turn = 2 * step;
  const std::uint32_t first = std::rotl(kFirstKeyStart, static_cast<int>(first_turn % 32));
  const std::uint32_t second = std::rotl(kSecondKeyStart, static_cast<int>(second_turn % 32));
  return {static_cast<std::uint8_t>(first & 0xFF), static_cast<std::uint8_t>(second & kStage2Bits)};
}

void scramble(std::uint8_t* p, std::size_t n) {
  if (n > 0) {
    const std::array<std::uint8_t, 2> chars = checksum_chars(xor_of(p, n));
    p[n] = chars[0];
    p[n + 1] = chars[1];
  }
  for (std::size_t i = 0; i < n + 2; ++i) {
    const Masks m = masks_at(i);
    p[i] = stage(stage(p[i], m.stage1), m.stage2);
  }
}

void unscramble(std::uint8_t* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const Masks m = masks_at(i);
    p[i] = unstage(unstage(p[i], m.stage2), m.stage1);  // stage 2 came last, so it is undone first
  }
}

std::uint16_t block_crc(const std::uint8_t* data, std::size_t n) {
  constexpr std::uint16_t kReflectedPoly = 0x8408;
  std::uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < n; ++i) {
    crc = static_cast<std::uint16_t>(crc ^ data[i]);
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ kReflectedPoly) : static_cast<std::uint16_t>(crc >> 1);
  }
  return crc;
}

std::string printable(const std::uint8_t* p, std::size_t n) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] >= 0x20 && p[i] < 0x7F) {
      s += static_cast<char>(p[i]);
    } else {
      s += "\\x";
      s += kHex[p[i] >> 4];
      s += kHex[p[i] & 15];
    }
  }
  return s;
}

}  // namespace printer::wire
