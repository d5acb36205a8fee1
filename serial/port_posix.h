// The serial port on Linux: a termios file descriptor whose reads and writes keep the same
// request time-outs as the Windows port (500 ms between bytes, 1000 ms per request).
#pragma once

#include <cstdint>

#include "serial/port.h"

namespace serial {

class PosixPort final : public Port {
 public:
  PosixPort() = default;
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
// and no XON/XOFF on output. Returns the descriptor, or -1.
int open_port(const char* name, std::uint32_t speed);

}  // namespace serial
