// One port's update run as the console shows it: each log line is written as the dialog's log
// list shows it ("HH:MM:SS - text", an empty line for an empty text), prefixed by the port when
// several ports run, and kept for the JSON result; the progress becomes the port's live line, and
// so does the outcome at the end. There are no controls and no focus; where the dialog shows its
// error box, the box's text and the reason the system gave become a line of their own.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cli/link.h"
#include "cli/output.h"
#include "update/run.h"

namespace cli {

// The log lines of one run, in a fixed area. When the area is full the oldest lines make room
// and are counted as dropped.
class LogStore {
 public:
  static constexpr std::size_t kSize = 64 * 1024;

  void add(const char* line);
  // Calls f(const char*) for each kept line, oldest first.
  template <typename F>
  void each(F f) const {
    for (std::size_t at = 0; at < used_;) {
      f(area_ + at);
      at += std::strlen(area_ + at) + 1;
    }
  }
  std::size_t dropped() const { return dropped_; }
  void clear() {
    used_ = 0;
    dropped_ = 0;
  }

 private:
  char area_[kSize] = {};
  std::size_t used_ = 0;
  std::size_t dropped_ = 0;
};

// How a port's run ended, in the three ways the live line, the JSON result and the exit status
// tell it apart.
enum class PortStatus { kFinished, kFailed, kStopped };

PortStatus port_status(update::Outcome o);
const char* status_name(PortStatus s);

class ConsoleObserver final : public update::RunObserver {
 public:
  // `port` and `prefix` must outlive the run; prefix is "" with one port.
  // `echo`: each log line is written out as well as kept, and so are the open failure and the
  // latency warning (a station keeps the lines only and tells its own events).
  ConsoleObserver(Output& out, std::size_t index, const char* port, const char* prefix, std::uint32_t image_length,
                  LogStore& log, LinkRecord& link, bool echo = true)
      : out_(out), index_(index), port_(port), prefix_(prefix), image_length_(image_length), log_(log), link_(link),
        echo_(echo) {}

  void log_line(const char* text) override;
  void progress(std::uint32_t position, std::uint32_t bytes_acknowledged) override;
  void block_answered(bool retry) override { link_.block_answered(retry); }
  // On a terminal: the warning of a slow USB adapter, once the port is open.
  void after_query() override;
  // The run has returned: its outcome becomes the live line, and where the dialog shows its error
  // box, the system's reason goes to standard error once.
  void run_over(const update::RunResult& result);

  // The port's live line before its run starts, and once Ctrl-C has come.
  void show_waiting() { show_live("waiting"); }
  // show_stopping may come from another thread than the run's.
  void show_stopping();

 private:
  void show_live(const char* text);

  Output& out_;
  const std::size_t index_;
  const char* port_;
  const char* prefix_;
  const std::uint32_t image_length_;
  LogStore& log_;
  LinkRecord& link_;
  const bool echo_;
  bool transfer_seen_ = false;
  std::chrono::steady_clock::time_point transfer_start_{};
  std::uint32_t bytes_at_start_ = 0;
  char line_[kOutputLineSize] = {};
  char live_[kLiveTextSize] = {};
};

}  // namespace cli
