#include "cli/console_observer.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "cli/console.h"
#include "update/file_append.h"
#include "update/operator_text.h"

namespace cli {

namespace {

constexpr std::size_t kPortShown = 28;  // of a long device path, the live line shows its end

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

PortStatus port_status(update::Outcome o) {
  switch (o) {
    case update::Outcome::kFinished:
      return PortStatus::kFinished;
    case update::Outcome::kStopped:
      return PortStatus::kStopped;
    default:
      return PortStatus::kFailed;
  }
}

const char* status_name(PortStatus s) {
  switch (s) {
    case PortStatus::kFinished:
      return "finished";
    case PortStatus::kStopped:
      return "stopped";
    case PortStatus::kFailed:
      break;
  }
  return "failed";
}

void ConsoleObserver::log_line(const char* text) {
  char entry[update::kLogLineSize];
  update::format_log_line(update::local_time_now(), text, entry, sizeof entry);
  log_.add(entry);
  if (!echo_) return;
  std::snprintf(line_, sizeof line_, "%s%s", prefix_, entry);
  // An empty line keeps only the port, without the space after it.
  const std::size_t n = std::strlen(line_);
  if (entry[0] == '\0' && n > 0 && line_[n - 1] == ' ') line_[n - 1] = '\0';
  out_.line(line_);
}


void ConsoleObserver::progress(std::uint32_t position, std::uint32_t bytes) {
  if (!out_.live()) return;
  if (stop_requested()) {
    // The figures of a transfer that is being stopped say nothing any more.
    std::snprintf(live_, sizeof live_, "%s stopping", shown_port(port_));
    out_.set_live(index_, live_, false);
    return;
  }
  const auto now = std::chrono::steady_clock::now();
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

void ConsoleObserver::after_query() {
  if (!out_.live() || !echo_) return;
  const std::string warning = latency_warning(port_, link_.setup);
  if (!warning.empty()) out_.line(warning.c_str());
}

void ConsoleObserver::run_over(const update::RunResult& result) {
  // Where the dialog shows its error box: the system's reason, once, on standard error.
  if (result.outcome == update::Outcome::kPortNotOpened && echo_) {
    std::snprintf(line_, sizeof line_, "zorven-cli: %s: %s %s", port_, update::kPortErrorText, result.failure.reason);
    out_.err_line(line_);
  }
  show_live(status_name(port_status(result.outcome)));
}

void ConsoleObserver::show_stopping() {
  char text[kLiveTextSize];  // not live_, which the run's thread may be writing
  std::snprintf(text, sizeof text, "%s stopping", shown_port(port_));
  out_.set_live(index_, text, true);
}

void ConsoleObserver::show_live(const char* text) {
  std::snprintf(live_, sizeof live_, "%s %s", shown_port(port_), text);
  out_.set_live(index_, live_, true);
}

}  // namespace cli
