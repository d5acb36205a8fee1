// Port discovery: which COM port numbers exist, as a table of 256 presence flags.
#pragma once

#include <cstddef>
#include <cstdint>

namespace serial {

inline constexpr std::size_t kPresenceSize = 256;

// Counts the names of a device listing (names each ended by 0, the list by an empty name) that
// begin with "COM" (any case) and are longer than 3 characters, and marks the number after
// "COM" (read as atoi does) when it is 0..255. `presence` is cleared first.
std::int32_t parse_device_listing(const char* list, std::size_t size, std::uint8_t* presence);

// The platform's discovery. Returns a count that is non-zero when at least one port was found.
std::int32_t discover_ports(std::uint8_t* presence);

}  // namespace serial
