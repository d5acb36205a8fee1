// The framed message, the form of the entry frames, the identification query and the printer's
// replies to them: STX, a length byte (kLengthBase + the number of data bytes), two command (or,
// in a reply, status) characters, the data, two checksum characters and LF. The checksum is the
// XOR of every byte after STX up to the checksum characters, written as two characters.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace protocol {

inline constexpr std::uint8_t kNibbleBase = 0x30;  // a nibble goes out as 0x30..0x3F, never hex letters

// An 8-bit value as two characters: each nibble OR 0x30 ('0'..'9', ':'..'?'), high nibble first.
constexpr void checksum_chars(std::uint8_t v, std::uint8_t out[2]) {
  out[0] = static_cast<std::uint8_t>((v >> 4) | kNibbleBase);
  out[1] = static_cast<std::uint8_t>((v & 0x0F) | kNibbleBase);
}

namespace framed {

inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kLf = 0x0A;
inline constexpr std::uint8_t kLengthBase = 0x23;  // length byte = 0x23 + number of data bytes
inline constexpr std::size_t kFrameHeaderSize = 4;  // STX, length byte, two command characters
inline constexpr std::size_t kFrameEndSize = 3;     // two checksum characters and LF
inline constexpr std::uint32_t kReplyStart = kFrameHeaderSize;  // STX, length byte, two status characters
inline constexpr std::uint32_t kReplyEnd = kFrameEndSize;       // two checksum characters and LF

constexpr std::uint8_t xor_of(const std::uint8_t* p, std::size_t n) {
  std::uint8_t v = 0;
  for (std::size_t i = 0; i < n; ++i) v ^= p[i];
  return v;
}

// Closes a framed message whose bytes [0, end) are written: checksum characters of the XOR of
// bytes 1 .. end-1, then LF. Returns the frame's length.
constexpr std::int32_t close_framed(std::uint8_t* buf, std::size_t end) {
  checksum_chars(xor_of(buf + 1, end - 1), buf + end);
  buf[end + 2] = kLf;
  return static_cast<std::int32_t>(end + kFrameEndSize);
}

// A framed message without data, the command alone, built whole at compile time.
constexpr std::array<std::uint8_t, kFrameHeaderSize + kFrameEndSize> command_frame(std::uint8_t c0, std::uint8_t c1) {
  std::array<std::uint8_t, kFrameHeaderSize + kFrameEndSize> f{};
  f[0] = kStx;
  f[1] = kLengthBase;
  f[2] = c0;
  f[3] = c1;
  close_framed(f.data(), kFrameHeaderSize);
  return f;
}

}  // namespace framed
}  // namespace protocol
