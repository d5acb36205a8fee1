// The parts of one port's platform that are the same everywhere.
#include <cstdio>
#include <ctime>

#include "cli/console.h"
#include "update/file_append.h"

namespace cli {

namespace {
// Far beyond any reply timeout the run sets.
constexpr std::int64_t kStoppedClockStep = 1000000;
// A verdict takes a few milliseconds from its first byte to its line end, even through a USB
// adapter at the lowest speed.
constexpr std::chrono::milliseconds kReplyGrace{250};
}  // namespace

void no_such_device_text(const char* name, char* dst, std::size_t cap) {
  std::snprintf(dst, cap, "No such device: %s.", name);
}

void port_busy_text(const char* name, char* dst, std::size_t cap) {
  std::snprintf(dst, cap, "The port is busy: another program holds %s.", name);
}

void system_error_text(const char* name, long error, char* dst, std::size_t cap) {
  std::snprintf(dst, cap, "System error %ld: %s.", error, name);
}

update::LocalTime ConsolePlatform::local_time() { return update::local_time_now(); }

bool ConsolePlatform::append_file(const char* file_name, const char* data, std::size_t n, char* why,
                                  std::size_t why_cap) {
  return update::append_file(file_name, data, n, why, why_cap);
}

void ConsolePlatform::open_failure(char* dst, std::size_t cap) {
  if (cap > 0) std::snprintf(dst, cap, "%s", open_failure_);
}

bool ConsolePlatform::take_stop() {
  if (!stop_requested()) return false;
  update::request_stop(state_);
  if (!stop_seen_) {
    stop_seen_ = true;
    stop_seen_at_ = std::chrono::steady_clock::now();
  }
  return true;
}

std::int64_t ConsolePlatform::now_seconds() {
  if (take_stop() && std::chrono::steady_clock::now() - stop_seen_at_ >= kReplyGrace)
    stopped_ahead_ += kStoppedClockStep;
  return static_cast<std::int64_t>(std::time(nullptr)) + stopped_ahead_;
}

void ConsolePlatform::pump_one() { take_stop(); }

}  // namespace cli
