// The texts the update dialog composes: its port list, the entries of its speed list and the
// lines of its log list. Kept apart from the window code so that they can be tested anywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace ui {

// Ports 1 to 4 are always offered; discovery adds 5 to 255.
inline constexpr unsigned kFirstDiscoveredPort = 5;
inline constexpr unsigned kLastPort = 255;
inline constexpr unsigned kAlwaysListedPorts = 4;
inline constexpr std::size_t kMaxPortEntries = kLastPort;

// The platform's formatted-print routine that composes a log line writes at most 1024 bytes.
inline constexpr std::size_t kLogLineSize = 1024;
inline constexpr std::size_t kClockTextSize = 64;
// "COM" and up to three digits, or up to ten digits of a speed, and the terminator.
inline constexpr std::size_t kEntryTextSize = 16;

inline constexpr char kNoVersionText[] = "Incorrect version.";
// What START says when the program carries an empty package.
inline constexpr char kNoPackageText[] = "No data found in file.";

// The port numbers to offer, in list order: 1 to 4, then, when the discovery count is non-zero,
// every number from 5 to 255 whose presence flag is 1. Returns how many were written to `out`
// (room for kMaxPortEntries).
std::size_t port_numbers(std::int32_t discovery_count, const std::uint8_t* presence, unsigned* out);

// "COM<n>".
void port_entry_text(unsigned number, char* dst, std::size_t cap);

// The speed as an unsigned decimal, for the speed list.
void speed_entry_text(std::uint32_t speed, char* dst, std::size_t cap);

// The speed as a signed decimal, as it is saved.
void speed_setting_text(std::uint32_t speed, char* dst, std::size_t cap);

// The speed at a list index; the default speed for an index outside the table.
std::uint32_t speed_at(int index);

// The local time as the "C" locale's time representation, HH:MM:SS.
void clock_text(const std::tm& local, char* dst, std::size_t cap);

// "<clock> - <text>" cut to fit kLogLineSize with its terminator; a null or empty text gives an
// empty line without a time.
void log_line_text(const char* clock, const char* text, char* dst, std::size_t cap);

// What the version field shows: the version text, or kNoVersionText when it is empty.
const char* version_field_text(const char* version);

}  // namespace ui
