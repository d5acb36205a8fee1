// What the update driver needs from the operating system beyond the dialog: opening the chosen
// port, the clock and message pump, the local date and time, and appending to a file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/host.h"
#include "serial/port.h"

namespace update {

struct LocalTime {
  int year;    // e.g. 2026
  int month;   // 1..12
  int day;     // 1..31
  int hour;    // 0..23
  int minute;
  int second;
};

class Platform {
 public:
  // Opens and configures the named port at `speed`; nullptr when it cannot be opened. The port
  // stays valid until closed; one port at a time.
  virtual serial::Port* open_port(const char* name, std::uint32_t speed) = 0;
  virtual serial::Host& host() = 0;
  virtual LocalTime local_time() = 0;
  // Why the last open_port failed, in plain words, into dst (cap bytes); "" where the platform
  // cannot tell.
  virtual void open_failure(char* dst, std::size_t cap) {
    if (cap > 0) dst[0] = '\0';
  }
  // Opens `file_name` for appending only (created when missing, shared for writing only), writes
  // the n bytes in one write and closes it. true when the whole line is in the file; otherwise
  // `why` (why_cap bytes) says what kept it out, in plain words.
  virtual bool append_file(const char* file_name, const char* data, std::size_t n, char* why,
                           std::size_t why_cap) = 0;

 protected:
  ~Platform() = default;
};

}  // namespace update
