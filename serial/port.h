// The serial port as the timed operations see it: single synchronous requests, nothing more.
// serial/port_win32.cpp and serial/port_posix.cpp implement it; tests use scripted fakes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace serial {

// The longest port name the Windows open_port accepts ("COM255" fits): the device path there
// is built in a fixed 12-byte area. The update dialog limits its port field to it.
inline constexpr std::size_t kMaxPortNameLength = 7;

// The request time-outs every port keeps, in milliseconds, fixed for every request. No per-byte
// part: a 528-byte block at 9600 bits per second (0.55 s) fits the write limit.
inline constexpr std::uint32_t kReadIntervalMs = 500;  // a read ends when more than this passes after a byte
inline constexpr std::uint32_t kReadTotalMs = 1000;    // a read ends at the latest this long after it began
inline constexpr std::uint32_t kWriteTotalMs = 1000;   // a write must be finished this long after it began

class Port {
 public:
  // One read request for up to `want` bytes into `dst`. Returns false when the request failed.
  // On success `got` (0..want) bytes arrived. With the fixed port time-outs a request ends when
  // all bytes arrived, more than kReadIntervalMs after a received byte, or kReadTotalMs after it
  // began.
  virtual bool read(void* dst, std::uint32_t want, std::uint32_t& got) = 0;

  // One write request. Returns false when the request failed; `written` may be short when the
  // kWriteTotalMs write limit passed.
  virtual bool write(const void* src, std::uint32_t n, std::uint32_t& written) = 0;

  // The number of bytes waiting in the input queue; also clears any pending error condition.
  // A failed status query reports 0.
  virtual std::uint32_t queued() = 0;

  virtual void close() = 0;

 protected:
  ~Port() = default;
};

}  // namespace serial
