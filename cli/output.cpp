#include "cli/output.h"

#include <cstdio>
#include <cstring>

#include "cli/console.h"

namespace cli {

namespace {

constexpr std::size_t kControlRoom = 16;  // cursor movement and erase sequences

// How much of a live text fits a terminal `columns` wide (0: not known) without reaching its last
// column, where some terminals wrap or leave the erase at the last character; never half a UTF-8
// character.
std::size_t shown_length(const char* text, std::size_t columns) {
  std::size_t n = strnlen(text, kLiveTextSize - 1);
  if (columns == 0 || n < columns) return n;
  n = columns - 1;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

}  // namespace

Output::Output(bool live, std::size_t ports, Columns columns, Write write)
    : live_(live),
      columns_(columns != nullptr ? columns : terminal_columns),
      write_(write != nullptr ? write : write_out),
      slots_(ports * kLiveTextSize, '\0'),
      ports_(ports),
      buffer_(kOutputLineSize + kControlRoom + ports * (kLiveTextSize + kControlRoom)) {}

void Output::compose_block() {
  const std::size_t columns = columns_();
  for (std::size_t i = 0; i < ports_; ++i) {
    const char* text = &slots_[i * kLiveTextSize];
    const std::size_t n = shown_length(text, columns);
    std::memcpy(&buffer_[used_], text, n);
    used_ += n;
    // Erase what a longer earlier text left on the line.
    std::memcpy(&buffer_[used_], "\x1b[K\n", 4);
    used_ += 4;
  }
  drawn_ = true;
  last_draw_ = std::chrono::steady_clock::now();
}

void Output::flush() {
  write_(buffer_.data(), used_);
  used_ = 0;
}

void Output::end_live() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!live_) return;
  // The last texts, drawn now if a redraw was held back.
  used_ = 0;
  if (drawn_) used_ += static_cast<std::size_t>(std::snprintf(&buffer_[0], kControlRoom, "\x1b[%uF", static_cast<unsigned>(ports_)));
  compose_block();
  flush();
  live_ = false;
}

void Output::line(const char* text) { write_line(text, false); }

void Output::err_line(const char* text) { write_line(text, true); }

void Output::write_line(const char* text, bool to_err) {
  std::lock_guard<std::mutex> lock(mutex_);
  used_ = 0;
  if (live_ && drawn_) {
    // Back to the first live line, and everything from there down erased.
    used_ += static_cast<std::size_t>(std::snprintf(&buffer_[0], kControlRoom, "\x1b[%uF\x1b[J", static_cast<unsigned>(ports_)));
  }
  const std::size_t n = strnlen(text, kOutputLineSize - 1);
  if (to_err) {
    // The erase goes out before the line, the live lines after it, each where it belongs.
    flush();
    std::memcpy(&buffer_[0], text, n);
    buffer_[n] = '\n';
    write_err(buffer_.data(), n + 1);
  } else {
    std::memcpy(&buffer_[used_], text, n);
    used_ += n;
    buffer_[used_++] = '\n';
  }
  if (live_) compose_block();
  flush();
}

void Output::set_live(std::size_t index, const char* text, bool now) {
  if (!live_ || index >= ports_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  std::snprintf(&slots_[index * kLiveTextSize], kLiveTextSize, "%s", text);
  if (!now && drawn_ && std::chrono::steady_clock::now() - last_draw_ < kRedrawInterval) return;
  used_ = 0;
  if (drawn_) used_ += static_cast<std::size_t>(std::snprintf(&buffer_[0], kControlRoom, "\x1b[%uF", static_cast<unsigned>(ports_)));
  compose_block();
  flush();
}

}  // namespace cli
