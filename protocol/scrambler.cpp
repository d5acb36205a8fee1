// The entry-frame scrambler. Two XOR stages per byte with masks taken from two rotating key
// words. A stage whose result would be a byte the printer's line framing reacts to (the excluded
// values below) leaves the byte as it was, so printable input never turns into framing bytes.
#include <cstdint>

#include "protocol/scrambler.h"

#include "protocol/frames.h"

namespace protocol {

namespace {

constexpr std::uint8_t kStage2Bits = 0x7E;         // stage 2 never touches bit 0 or bit 7
constexpr std::uint8_t kExtraRotationPeriod = 31;  // every 31st step the first key turns 3 more
constexpr unsigned kExtraRotation = 3;
constexpr unsigned kFirstKeyStep = 1;
constexpr unsigned kSecondKeyStep = 2;

// NUL STX ETX ENQ LF DLE DC1 SYN CAN EM SUB
constexpr std::uint8_t kExcluded[] = {0x00, 0x02, 0x03, 0x05, 0x0A, 0x10, 0x11, 0x16, 0x18, 0x19, 0x1A};

std::uint32_t rotl(std::uint32_t v, unsigned k) { return (v << k) | (v >> (32 - k)); }

// One stage: the masked value unless that would be an excluded value.
std::uint8_t stage(std::uint8_t b, std::uint8_t mask) {
  const auto t = static_cast<std::uint8_t>(b ^ mask);
  return is_excluded(t) ? b : t;
}

}  // namespace

bool is_excluded(std::uint8_t v) {
  for (std::uint8_t e : kExcluded)
    if (v == e) return true;
  return false;
}

ScrambleMasks ScrambleKeys::step() {
  if (steps_ == kExtraRotationPeriod) {  // tested before the count moves: steps 31, 62, ...
    key1_ = rotl(key1_, kExtraRotation);
    steps_ = 0;
  }
  const ScrambleMasks m{static_cast<std::uint8_t>(key1_), static_cast<std::uint8_t>(key2_ & kStage2Bits)};
  key1_ = rotl(key1_, kFirstKeyStep);
  key2_ = rotl(key2_, kSecondKeyStep);
  ++steps_;
  return m;
}

int scramble(std::uint8_t* p, std::int32_t n) {
  ScrambleKeys keys;
  std::uint8_t plain_xor = 0;
  for (std::int32_t i = 0; i < n + 2; ++i) {
    if (i < n) plain_xor ^= p[i];  // before p[i] changes: the checksum covers the plain bytes
    const ScrambleMasks m = keys.step();
    p[i] = stage(stage(p[i], m.stage1), m.stage2);
    // The checksum characters go behind the last plain byte and are scrambled in the next two
    // steps like the rest.
    if (i == n - 1) checksum_chars(plain_xor, p + n);
  }
  return 1;
}

}  // namespace protocol
