#include "update/operator_text.h"

#include <cstdio>

namespace update {

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

void format_log_line(const std::tm& local, const char* text, char* dst, std::size_t cap) {
  char clock[kClockTextSize] = "";
  clock_text(local, clock, sizeof clock);
  log_line_text(clock, text, dst, cap);
}

void format_log_line(const LocalTime& t, const char* text, char* dst, std::size_t cap) {
  std::tm local{};
  local.tm_year = t.year - 1900;
  local.tm_mon = t.month - 1;
  local.tm_mday = t.day;
  local.tm_hour = t.hour;
  local.tm_min = t.minute;
  local.tm_sec = t.second;
  format_log_line(local, text, dst, cap);
}

}  // namespace update
