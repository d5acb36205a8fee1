// The serial port on Linux: a termios file descriptor whose reads and writes keep the same
// request time-outs as the Windows port (kReadIntervalMs, kReadTotalMs and kWriteTotalMs of
// serial/port.h), with poll() on a monotonic clock.
#pragma once

#include <cstdint>

#include "serial/port.h"

namespace serial {

class PosixPort final : public Port {
 public:
  PosixPort() = default;
  // The descriptor should be non-blocking (open_port makes it so); a blocking one still works
  // for reads, but a write to it could then outlast the write limit.
  explicit PosixPort(int fd) : fd_(fd) {}
  void attach(int fd) { fd_ = fd; }
  int fd() const { return fd_; }

  bool read(void* dst, std::uint32_t want, std::uint32_t& got) override;
  bool write(const void* src, std::uint32_t n, std::uint32_t& written) override;
  std::uint32_t queued() override;
  void close() override;

 private:
  int fd_ = -1;
};

// Opens the named device exclusively, raw, at `speed` with 8 data bits, no parity, one stop bit
// and no XON/XOFF on output. Returns the descriptor (non-blocking), or -1. Only the speeds of the
// speed table are accepted, and a device that is not a terminal, or that does not take the line
// settings, is refused. On -1, errno says why (EBUSY or EWOULDBLOCK: held by another program).
int open_port(const char* name, std::uint32_t speed);

}  // namespace serial
