#include "cli/console_ops.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "ui/dialog_text.h"
#include "update/file_append.h"

namespace cli {

namespace {

constexpr std::size_t kPortShown = 28;  // of a long device path, the live line shows its end

// The clock part of a log line as the dialog writes it, from a thread-safe local time.
void clock_now(char* dst, std::size_t cap) {
  const update::LocalTime t = update::local_time_now();
  std::tm local{};
  local.tm_year = t.year - 1900;
  local.tm_mon = t.month - 1;
  local.tm_mday = t.day;
  local.tm_hour = t.hour;
  local.tm_min = t.minute;
  local.tm_sec = t.second;
  ui::clock_text(local, dst, cap);
}

const char* shown_port(const char* port) {
  const std::size_t n = std::strlen(port);
  return n > kPortShown ? port + (n - kPortShown) : port;
}

}  // namespace

void LogStore::add(const char* line) {
  std::size_t n = strnlen(line, kSize - 1);
  // Room is made by dropping the oldest lines.
  while (used_ + n + 1 > kSize && used_ > 0) {
    const std::size_t first = std::strlen(area_) + 1;
    std::memmove(area_, area_ + first, used_ - first);
    used_ -= first;
    ++dropped_;
  }
  std::memcpy(area_ + used_, line, n);
  area_[used_ + n] = '\0';
  used_ += n + 1;
}

void ConsoleOps::add_log_line(const char* text) {
  char clock[ui::kClockTextSize] = "";
  clock_now(clock, sizeof clock);
  char entry[ui::kLogLineSize];
  ui::log_line_text(clock, text, entry, sizeof entry);
  log_.add(entry);
  std::snprintf(line_, sizeof line_, "%s%s", prefix_, entry);
  // An empty line keeps only the port, without the space after it.
  const std::size_t n = std::strlen(line_);
  if (entry[0] == '\0' && n > 0 && line_[n - 1] == ' ') line_[n - 1] = '\0';
  out_.line(line_);
}


void ConsoleOps::set_progress(std::uint32_t position) {
  if (!out_.live()) return;
  const auto now = std::chrono::steady_clock::now();
  const std::uint32_t bytes = state_.bytes_acknowledged;
  if (!transfer_seen_) {
    transfer_seen_ = true;
    transfer_start_ = now;
    bytes_at_start_ = bytes;
  }
  const double seconds = std::chrono::duration<double>(now - transfer_start_).count();
  const double rate = seconds > 0 ? (bytes - bytes_at_start_) / seconds : 0;
  const std::uint32_t left_bytes = image_length_ > bytes ? image_length_ - bytes : 0;
  if (rate > 0) {
    const unsigned left = static_cast<unsigned>(left_bytes / rate + 0.5);
    std::snprintf(live_, sizeof live_, "%s %3u%% %7.0f B/s %u:%02u left", shown_port(port_),
                  static_cast<unsigned>(position), rate, left / 60, left % 60);
  } else {
    std::snprintf(live_, sizeof live_, "%s %3u%%", shown_port(port_), static_cast<unsigned>(position));
  }
  out_.set_live(index_, live_, false);
}

void ConsoleOps::error_box(const char* text) {
  std::snprintf(line_, sizeof line_, "%s%s %s", prefix_, text, reason_);
  out_.line(line_);
}

void ConsoleOps::port_text(char* dst, std::size_t cap) {
  if (cap == 0) return;
  std::snprintf(dst, cap, "%s", port_);
}

void ConsoleOps::show_outcome(const char* outcome) {
  std::snprintf(live_, sizeof live_, "%s %s", shown_port(port_), outcome);
  out_.set_live(index_, live_, true);
}

}  // namespace cli
