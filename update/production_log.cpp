// The production log line: which printer (serial number) received which package (log tag) and
// when. Composed in the shared text buffer and appended with one write, so that updaters sharing
// the file never split each other's lines.
#include "update/production_log.h"

#include <cstdio>
#include <cstring>

namespace update {

namespace {

constexpr std::size_t kStampSize = 128;  // "MM/DD/YY HH:MM:SS" and room to spare

// Two decimal digits of a date or clock field: the year is written modulo 100, and a value out of
// range is taken modulo 100 too, so that every field keeps its width.
int two_digits(int v) { return ((v % 100) + 100) % 100; }

}  // namespace

std::size_t format_production_line(const char* serial_number, const package::Record& pkg, const LocalTime& t,
                                   char* out, std::size_t cap) {
  if (cap == 0) return 0;
  char stamp[kStampSize];
  std::snprintf(stamp, sizeof stamp, "%02d/%02d/%02d %02d:%02d:%02d", two_digits(t.month), two_digits(t.day),
                two_digits(t.year), two_digits(t.hour), two_digits(t.minute), two_digits(t.second));

  // Both texts are bounded by their fields even when a terminator is missing.
  const int serial_len = static_cast<int>(strnlen(serial_number, protocol::kSerialNumberSize - 1));
  const package::Text tag = package::log_tag(pkg);
  const int n = std::snprintf(out, cap, "%.*s;%.*s;%s\r\n", serial_len, serial_number, static_cast<int>(tag.length),
                              tag.data, stamp);
  if (n < 0 || static_cast<std::size_t>(n) >= cap) {
    // A line without its end would merge with the next record: write none instead.
    out[0] = 0;
    return 0;
  }
  return static_cast<std::size_t>(n);
}

bool write_production_log(RunState& state, const package::Record& pkg, Platform& platform, const char* file_name,
                          char* why, std::size_t why_cap) {
  const std::size_t n =
      format_production_line(state.serial_number, pkg, platform.local_time(), state.text, sizeof state.text);
  if (n == 0) {
    std::snprintf(why, why_cap, "the line does not fit its buffer");
    return false;
  }
  return platform.append_file(file_name, state.text, n, why, why_cap);
}

void format_not_written(const char* file_name, const char* why, char* dst, std::size_t cap) {
  std::snprintf(dst, cap, "Production log not written: %s (%s).", file_name, why);
}

}  // namespace update
