// The serial port as the timed operations see it: single synchronous requests, nothing more.
// serial/port_win32.cpp and serial/port_posix.cpp implement it; tests use scripted fakes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace serial {

// The longest port name the Windows open_port accepts ("COM255" fits): the device path there
// is built in a fixed 12-byte area. The update dialog limits its port field to it.
inline constexpr std::size_t kMaxPortNameLength = 7;

class Port {
 public:
  // One read request for up to `want` bytes into `dst`. Returns false when the request failed.
  // On success `got` (0..want) bytes arrived. With the fixed port time-outs a request ends when
  // all bytes arrived, more than 500 ms after a received byte, or 1000 ms after it began.
  virtual bool read(void* dst, std::uint32_t want, std::uint32_t& got) = 0;

  // One write request. Returns false when the request failed; `written` may be short when the
  // 1000 ms write limit passed.
  virtual bool write(const void* src, std::uint32_t n, std::uint32_t& written) = 0;

  // The number of bytes waiting in the input queue; also clears any pending error condition.
  // A failed status query reports 0.
  virtual std::uint32_t queued() = 0;

  virtual void close() = 0;

 protected:
  ~Port() = default;
};

}  // namespace serial
