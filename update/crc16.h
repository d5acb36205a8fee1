// CRC-16/MCRF4XX, the check value behind every image block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace update {

// Reflected 0x1021, initial 0xFFFF, no final XOR.
std::uint16_t crc16(const std::uint8_t* data, std::size_t n);

}  // namespace update
