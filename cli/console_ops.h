// The dialog operations for one port's run on the console: each log line is written as the
// dialog's log list shows it ("HH:MM:SS - text", an empty line for an empty text), prefixed by
// the port when several ports run, and kept for the JSON result; the progress becomes the port's
// live line. There are no controls, no focus and no error box: the box's text, with the reason
// the system gave, becomes a line of its own.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cli/output.h"
#include "update/dialog_ops.h"
#include "update/run_state.h"

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

 private:
  char area_[kSize] = {};
  std::size_t used_ = 0;
  std::size_t dropped_ = 0;
};

class ConsoleOps final : public update::DialogOps {
 public:
  // `port` and `prefix` must outlive the run; prefix is "" with one port.
  ConsoleOps(Output& out, std::size_t index, const char* port, const char* prefix, int speed_index,
             const update::RunState& state, std::uint32_t image_length, LogStore& log)
      : out_(out), index_(index), port_(port), prefix_(prefix), speed_index_(speed_index), state_(state),
        image_length_(image_length), log_(log) {}

  void add_log_line(const char* text) override;
  void set_controls_enabled(bool) override {}
  void set_progress(std::uint32_t position) override;
  void repaint_log() override {}
  void error_box(const char* text) override;
  void port_text(char* dst, std::size_t cap) override;
  int speed_index() override { return speed_index_; }
  void* focus() override { return nullptr; }
  void set_focus(void*) override {}

  // The text the error box would have shown, and the reason beside it.
  void set_error_reason(const char* reason) { reason_ = reason; }
  // The port's last live line: the outcome.
  void show_outcome(const char* outcome);

 private:
  Output& out_;
  const std::size_t index_;
  const char* port_;
  const char* prefix_;
  const int speed_index_;
  const update::RunState& state_;
  const std::uint32_t image_length_;
  LogStore& log_;
  const char* reason_ = "";
  bool transfer_seen_ = false;
  std::chrono::steady_clock::time_point transfer_start_{};
  std::uint32_t bytes_at_start_ = 0;
  char line_[kOutputLineSize] = {};
  char live_[kLiveTextSize] = {};
};

}  // namespace cli
