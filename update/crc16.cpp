// CRC-16/MCRF4XX over one image block: the reflected CCITT polynomial, initial value 0xFFFF,
// input and output reflected, no final XOR. The printer checks every block against it.
#include <array>

#include "update/crc16.h"

namespace update {

namespace {

constexpr std::uint16_t kReflectedPoly = 0x8408;  // 0x1021 bit-reversed
constexpr std::uint16_t kCrcInit = 0xFFFF;

constexpr std::array<std::uint16_t, 256> make_table() {
  std::array<std::uint16_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) {
    std::uint16_t c = static_cast<std::uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? static_cast<std::uint16_t>((c >> 1) ^ kReflectedPoly) : (c >> 1);
    t[i] = c;
  }
  return t;
}

constexpr std::array<std::uint16_t, 256> kTable = make_table();
static_assert(kTable[1] == 0x1189);

}  // namespace

std::uint16_t crc16(const std::uint8_t* data, std::size_t n) {
  std::uint16_t crc = kCrcInit;
  for (std::size_t i = 0; i < n; ++i) crc = static_cast<std::uint16_t>((crc >> 8) ^ kTable[(data[i] ^ crc) & 0xFF]);
  return crc;
}

}  // namespace update
