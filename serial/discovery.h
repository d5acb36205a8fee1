// Port discovery: which COM port numbers exist, as a table of 256 presence flags, and the list of
// COM ports a front end offers from it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace serial {

inline constexpr std::size_t kPresenceSize = 256;

// Counts the names of a device listing (names each ended by 0, the list by an empty name) that
// begin with "COM" (any case) and are longer than 3 characters, and marks the number after
// "COM" (read as atoi does) when it is 0..255. `presence` is cleared first.
std::int32_t parse_device_listing(const char* list, std::size_t size, std::uint8_t* presence);

// Ports 1 to 4 are always offered; discovery adds 5 to 255.
inline constexpr unsigned kFirstDiscoveredPort = 5;
inline constexpr unsigned kLastPort = 255;
inline constexpr unsigned kAlwaysListedPorts = 4;
inline constexpr std::size_t kMaxPortEntries = kLastPort;
// "COM" and up to three digits and the terminator, with room to spare.
inline constexpr std::size_t kPortEntrySize = 16;

// The port numbers to offer, in list order: 1 to 4, then, when the discovery count is non-zero,
// every number from 5 to 255 whose presence flag is 1. Returns how many were written to `out`
// (room for kMaxPortEntries).
std::size_t port_numbers(std::int32_t discovery_count, const std::uint8_t* presence, unsigned* out);

// "COM<n>".
void port_entry_text(unsigned number, char* dst, std::size_t cap);

// The platform's discovery. Returns a count that is non-zero when at least one port was found.
std::int32_t discover_ports(std::uint8_t* presence);

}  // namespace serial
