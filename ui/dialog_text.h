// The texts the update dialog composes for its own controls: the entries of its speed list, the
// saved speed and the version field. Kept apart from the window code so that they can be tested
// anywhere. The port list's entries and the log line are composed below, for both front ends
// (serial/discovery.h, update/operator_text.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/discovery.h"

namespace ui {

// "COM" and up to three digits, or up to ten digits of a speed, and the terminator.
inline constexpr std::size_t kEntryTextSize = serial::kPortEntrySize;

inline constexpr char kNoVersionText[] = "Incorrect version.";

// The speed as an unsigned decimal, for the speed list.
void speed_entry_text(std::uint32_t speed, char* dst, std::size_t cap);

// The speed as a signed decimal, as it is saved.
void speed_setting_text(std::uint32_t speed, char* dst, std::size_t cap);

// The speed at a list index; the default speed for an index outside the table.
std::uint32_t speed_at(int index);

// What the version field shows: the version text, or kNoVersionText when it is empty.
const char* version_field_text(const char* version);

}  // namespace ui
