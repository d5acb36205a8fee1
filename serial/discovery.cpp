// The device-listing parser shared by the platforms' discovery.
#include "serial/discovery.h"

#include <cstdio>
#include <cstring>

namespace serial {

namespace {

constexpr char kComPrefix[] = "COM";
constexpr std::size_t kComPrefixLength = 3;
// Parsing stops adding digits once the value is beyond any port number, so a long run of digits
// cannot overflow; such a name still counts, it just marks nothing.
constexpr std::int64_t kNumberCeiling = 1'000'000;

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Reads a decimal number as atoi does: leading blanks, an optional sign, digits up to the first
// other character; no digits give 0.
std::int64_t parse_number(const char* p, const char* end) {
  while (p < end && is_blank(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  std::int64_t value = 0;
  while (p < end && *p >= '0' && *p <= '9') {
    if (value < kNumberCeiling) value = value * 10 + (*p - '0');
    ++p;
  }
  return negative ? -value : value;
}

}  // namespace

std::int32_t parse_device_listing(const char* list, std::size_t size, std::uint8_t* presence) {
  std::memset(presence, 0, kPresenceSize);
  std::int32_t count = 0;
  std::size_t pos = 0;
  // Every name ends at its 0 byte; a last name without one ends at the end of the area, so the
  // scan never leaves the bytes the listing delivered.
  while (pos < size && list[pos] != '\0') {
    const char* name = list + pos;
    std::size_t len = 0;
    while (pos + len < size && name[len] != '\0') ++len;
    pos += len + 1;

    if (len <= kComPrefixLength) continue;
    if (upper(name[0]) != kComPrefix[0] || upper(name[1]) != kComPrefix[1] ||
        upper(name[2]) != kComPrefix[2]) {
      continue;
    }
    ++count;
    const std::int64_t number = parse_number(name + kComPrefixLength, name + len);
    if (number >= 0 && number < static_cast<std::int64_t>(kPresenceSize)) presence[number] = 1;
  }
  return count;
}

std::size_t port_numbers(std::int32_t discovery_count, const std::uint8_t* presence, unsigned* out) {
  std::size_t n = 0;
  for (unsigned port = 1; port <= kAlwaysListedPorts; ++port) out[n++] = port;
  if (discovery_count == 0) return n;
  for (unsigned port = kFirstDiscoveredPort; port <= kLastPort; ++port) {
    if (presence[port] == 1) out[n++] = port;
  }
  return n;
}

void port_entry_text(unsigned number, char* dst, std::size_t cap) { std::snprintf(dst, cap, "COM%u", number); }

}  // namespace serial
