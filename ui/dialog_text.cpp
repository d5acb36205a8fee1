#include "ui/dialog_text.h"

#include <cstdio>

#include "package/protocol_constants.h"

namespace ui {

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

const char* version_field_text(const char* version) {
  return (version == nullptr || version[0] == '\0') ? kNoVersionText : version;
}

}  // namespace ui
