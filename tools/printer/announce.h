// The announce line that opens the image transfer: "<version>;<length>;<block size>;\r\n". The
// version may itself hold ';', so the fields are taken from the right; the numbers are decimal,
// without sign or leading zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace printer {

inline constexpr std::size_t kMaxAnnounceLine = 300;
inline constexpr std::uint32_t kMaxBlockSize = 65536;
inline constexpr std::uint32_t kMaxImageLength = 64u << 20;

struct Announce {
  std::string version;
  std::uint32_t image_length = 0;  // 1 to kMaxImageLength
  std::uint32_t block_size = 0;    // 1 to kMaxBlockSize
};

// Reads a whole line, LF included, into `out`. Returns "" when it is an announce line, otherwise
// what is wrong with it.
std::string parse_announce(const std::string& line, Announce& out);

}  // namespace printer
