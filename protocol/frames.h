// Entry frames that switch the printer into update mode and their checksum characters. Pure byte
// building: no input or output, no state between calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "package/package.h"
#include "protocol/framed_message.h"

namespace protocol {

inline constexpr std::size_t kLongestFrame = 22;  // a caller's buffer holds at least this

// checksum_chars, the checksum characters of every frame here, is in protocol/framed_message.h.

std::int32_t build_common_frame(const package::Record& pkg, std::uint8_t* buf);    // 13
// Variant 3: scrambled (22 bytes) when the package's scramble flag is set, else plain (20).
std::int32_t build_variant3_frame(const package::Record& pkg, std::uint8_t* buf);
// Variant 3's plain frame whatever the flag says: the one retry after a refused scrambled frame.
std::int32_t build_plain_variant3_frame(const package::Record& pkg, std::uint8_t* buf);  // 20
std::int32_t build_variant2_frame(const package::Record& pkg, std::uint8_t* buf);  // 12

}  // namespace protocol
