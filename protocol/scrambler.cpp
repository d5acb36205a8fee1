// The entry-frame scrambler. Two XOR stages per byte with masks taken from two rotating key
// words. A stage whose result would be a byte the printer's line framing reacts to (the excluded
// values below) leaves the byte as it was, so printable input never turns into framing bytes.
#include <cstdint>

#include "protocol/frames.h"

namespace protocol {
namespace {

constexpr std::uint32_t kFirstKey = 0x5A3C91E7u;   // its low byte is the stage-1 mask
static_assert(kFirstKey == package::kMarker, "the package marker carries the first key word");
constexpr std::uint32_t kSecondKey = 0x2D7B04C9u;  // its low byte AND kStage2Bits is the stage-2 mask
constexpr std::uint8_t kStage2Bits = 0x7E;         // stage 2 never touches bit 0 or bit 7
constexpr std::uint8_t kExtraRotationPeriod = 31;  // every 31st step the first key turns 3 more
constexpr unsigned kExtraRotation = 3;
constexpr unsigned kFirstKeyStep = 1;
constexpr unsigned kSecondKeyStep = 2;

// NUL STX ETX ENQ LF DLE DC1 SYN CAN EM SUB
constexpr std::uint8_t kExcluded[] = {0x00, 0x02, 0x03, 0x05, 0x0A, 0x10, 0x11, 0x16, 0x18, 0x19, 0x1A};

bool excluded(std::uint8_t v) {
  for (std::uint8_t e : kExcluded)
    if (v == e) return true;
  return false;
}

std::uint32_t rotl(std::uint32_t v, unsigned k) { return (v << k) | (v >> (32 - k)); }

// One stage: the masked value unless that would be an excluded value.
std::uint8_t stage(std::uint8_t b, std::uint8_t mask) {
  const auto t = static_cast<std::uint8_t>(b ^ mask);
  return excluded(t) ? b : t;
}

}  // namespace

int scramble(std::uint8_t* p, std::int32_t n) {
  std::uint32_t key1 = kFirstKey;
  std::uint32_t key2 = kSecondKey;
  std::uint8_t steps = 0;
  std::uint8_t plain_xor = 0;
  for (std::int32_t i = 0; i < n + 2; ++i) {
    if (i < n) plain_xor ^= p[i];  // before p[i] changes: the checksum covers the plain bytes
    if (steps == kExtraRotationPeriod) {
      key1 = rotl(key1, kExtraRotation);
      steps = 0;
    }
    p[i] = stage(p[i], static_cast<std::uint8_t>(key1));
    key1 = rotl(key1, kFirstKeyStep);
    p[i] = stage(p[i], static_cast<std::uint8_t>(key2 & kStage2Bits));
    key2 = rotl(key2, kSecondKeyStep);
    ++steps;
    // The checksum characters go behind the last plain byte and are scrambled in the next two
    // steps like the rest.
    if (i == n - 1) checksum_chars(plain_xor, p + n);
  }
  return 1;
}

}  // namespace protocol
