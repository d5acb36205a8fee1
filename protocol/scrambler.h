// The entry-frame scrambler: two XOR stages per byte with masks from two rotating key words.
#pragma once

#include <cstdint>

#include "package/package.h"

namespace protocol {

// Scrambles n plain bytes in place and the two checksum characters it writes behind them
// (n + 2 bytes in all). Returns 1.
int scramble(std::uint8_t* p, std::int32_t n);

// The package's marker word is the first key word. Low byte: the stage-1 mask.
inline constexpr std::uint32_t kScrambleFirstKey = package::kMarker;
inline constexpr std::uint32_t kScrambleSecondKey = 0x2D7B04C9u;  // low byte AND 0x7E: the stage-2 mask

// The scrambler's two masks for one byte.
struct ScrambleMasks {
  std::uint8_t stage1;
  std::uint8_t stage2;
};

// The scrambler's key schedule, one step per byte from the start values. (The virtual printer,
// which undoes the scrambler to read the access code, works the schedule out on its own, so that
// the two can be held against each other.)
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
