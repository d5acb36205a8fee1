// Entry frames that switch the printer into update mode, their checksum characters, and the
// entry-frame scrambler. Pure byte building: no input or output, no state between calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "package/package.h"

namespace protocol {

inline constexpr std::size_t kLongestFrame = 22;  // a caller's buffer holds at least this

// An 8-bit value as two characters: each nibble OR 0x30 ('0'..'9', ':'..'?'), high nibble first.
void checksum_chars(std::uint8_t v, std::uint8_t out[2]);

std::int32_t build_common_frame(const package::Record& pkg, std::uint8_t* buf);    // 13
std::int32_t build_variant3_frame(const package::Record& pkg, std::uint8_t* buf);  // 20 or 22
std::int32_t build_variant2_frame(const package::Record& pkg, std::uint8_t* buf);  // 12

// Scrambles n plain bytes in place and the two checksum characters it writes behind them
// (n + 2 bytes in all). Returns 1.
int scramble(std::uint8_t* p, std::int32_t n);

inline constexpr std::uint32_t kScrambleFirstKey = 0x5A3C91E7u;   // low byte: the stage-1 mask
inline constexpr std::uint32_t kScrambleSecondKey = 0x2D7B04C9u;  // low byte AND 0x7E: the stage-2 mask

// The scrambler's two masks for one byte.
struct ScrambleMasks {
  std::uint8_t stage1;
  std::uint8_t stage2;
};

// The scrambler's key schedule, one step per byte from the start values. The scrambler and
// whatever undoes it (a printer reading the access code) walk the same schedule.
class ScrambleKeys {
 public:
  ScrambleMasks step();

 private:
  std::uint32_t key1_ = kScrambleFirstKey;
  std::uint32_t key2_ = kScrambleSecondKey;
  std::uint8_t steps_ = 0;            // every 31st step the first key turns 3 more
};

// The values a scrambling stage never produces: NUL STX ETX ENQ LF DLE DC1 SYN CAN EM SUB.
bool is_excluded(std::uint8_t v);

}  // namespace protocol
