// The serial port on Windows: a synchronous HANDLE with ReadFile, WriteFile and ClearCommError.
#pragma once

#include <windows.h>

#include <cstdint>

#include "serial/port.h"

namespace serial {

class Win32Port final : public Port {
 public:
  Win32Port() = default;
  explicit Win32Port(HANDLE h) : handle_(h) {}
  void attach(HANDLE h) { handle_ = h; }
  HANDLE handle() const { return handle_; }

  bool read(void* dst, std::uint32_t want, std::uint32_t& got) override;
  bool write(const void* src, std::uint32_t n, std::uint32_t& written) override;
  std::uint32_t queued() override;
  void close() override;

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Opens the named port (device path "\\.\<name>" first, then the bare name) exclusively, sets
// the line settings and the fixed request time-outs. INVALID_HANDLE_VALUE when it cannot open.
HANDLE open_port(const char* name, std::uint32_t speed);

}  // namespace serial
