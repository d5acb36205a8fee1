// The program's standard output, shared by every port's run: each line is written whole, in one
// request under one lock, so lines of several ports never mix. On a terminal a block of live
// lines, one per port, stays below the log lines and is redrawn in place, at most a few times a
// second; elsewhere only the log lines are written, without control characters. A live line is
// cut to one character less than the terminal's width: one that wrapped would take two rows, and
// the redraw, which moves up one row per port, would leave copies behind.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <vector>

namespace cli {

inline constexpr std::size_t kLiveTextSize = 80;  // one terminal line, the terminator included
inline constexpr std::size_t kOutputLineSize = 2048;

class Output {
 public:
  using Columns = std::size_t (*)();
  using Write = void (*)(const char* data, std::size_t n);

  // Everything it needs is allocated here, before any run starts. `columns` tells the terminal's
  // width when a block is drawn (0: not known), `write` takes what is written; nullptr stands for
  // the console's terminal_columns and write_out.
  Output(bool live, std::size_t ports, Columns columns = nullptr, Write write = nullptr);

  bool live() const { return live_; }

  // The live lines stay as last drawn; every line after this goes below them.
  void end_live();

  // Writes `text` and a line end.
  void line(const char* text);
  // The same on standard error, with the live lines kept below it on a terminal.
  void err_line(const char* text);

  // Sets the live line of port `index`; redrawn when the last redraw is old enough, or now when
  // `now` is set.
  void set_live(std::size_t index, const char* text, bool now);

 private:
  void compose_block();  // under the lock
  void flush();          // under the lock
  void write_line(const char* text, bool to_err);

  static constexpr std::chrono::milliseconds kRedrawInterval{250};

  std::mutex mutex_;
  bool live_;
  const Columns columns_;
  const Write write_;
  std::vector<char> slots_;  // ports x kLiveTextSize
  std::size_t ports_;
  std::vector<char> buffer_;
  std::size_t used_ = 0;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point last_draw_{};
};

}  // namespace cli
