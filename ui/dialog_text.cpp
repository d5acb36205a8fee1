#include "ui/dialog_text.h"

#include <cstdio>

#include "package/package.h"

namespace ui {

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

void speed_entry_text(std::uint32_t speed, char* dst, std::size_t cap) {
  std::snprintf(dst, cap, "%u", static_cast<unsigned>(speed));
}

void speed_setting_text(std::uint32_t speed, char* dst, std::size_t cap) {
  std::snprintf(dst, cap, "%d", static_cast<int>(speed));
}

std::uint32_t speed_at(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= package::kSpeedCount) return package::kDefaultSpeed;
  return package::kSpeeds[index];
}

void clock_text(const std::tm& local, char* dst, std::size_t cap) {
  if (cap == 0) return;
  if (std::strftime(dst, cap, "%X", &local) == 0) dst[0] = '\0';
}

void log_line_text(const char* clock, const char* text, char* dst, std::size_t cap) {
  if (cap == 0) return;
  if (cap > kLogLineSize) cap = kLogLineSize;
  if (text == nullptr || text[0] == '\0') {
    dst[0] = '\0';
    return;
  }
  std::snprintf(dst, cap, "%s - %s", clock, text);
}

const char* version_field_text(const char* version) {
  return (version == nullptr || version[0] == '\0') ? kNoVersionText : version;
}

}  // namespace ui
