// The serial line as the fuzz targets play it: a port whose read requests are decoded from the
// fuzz input, and the test host (tests/support) whose clock that port moves.
//
// The input is a sequence of operations, each one header byte and maybe payload:
//
//   0x00-0x7F  data: the next (b + 1) bytes arrive (1..128)
//   0x80-0x9F  (b & 0x1F) + 1 idle requests, each lasting one second on the clock
//   0xA0-0xBF  (b & 0x1F) + 1 failed requests
//   0xC0       STOP is pressed at the next pump
//   0xC1       Cancel is pressed at the next pump
//   0xC2       the next write request fails
//   0xC3       the next write request is short (half the bytes)
//   0xC4-0xDF  one idle request during which the clock moves (b & 0x1F) - 2 seconds (2..29)
//   0xE0-0xFF  long data: the next ((b & 0x1F) << 8 | next byte) + 1 bytes arrive (1..8192)
//
// Data is handed to read requests in order, at most as many bytes as a request asks for; what a
// request leaves of a data operation stays waiting for the next one, and the port's queue count
// reports it (bytes that arrived together are in the input queue together). A data operation no
// request has reached yet has not arrived, so the queue count does not see it. Data and failed
// requests take no time. The four events (0xC0..0xC3) take effect as soon as the reads before
// them are done. When the input is used up every request is idle and lasts one second, so every
// timed read ends.
//
// Everything that happens on the line is kept in order (read and write requests, queue counts,
// pumps, close) for the targets to check against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "serial/port.h"
#include "tests/support/fakes.h"

// A property of the code under test does not hold: say which and crash, so that libFuzzer keeps
// the input. With ZORVEN_FUZZ_TRACE set in the environment it first prints what happened on the
// line.
#define FUZZ_CHECK(cond)                                          \
  do {                                                            \
    if (!(cond)) fuzz::violated(__FILE__, __LINE__, #cond);       \
  } while (0)

namespace fuzz {

struct Event;
inline const std::vector<Event>* g_events = nullptr;  // the line of the input being run
[[noreturn]] void violated(const char* file, int line, const char* what);

// Reads the fixed header bytes a target takes from the front of its input.
class Header {
 public:
  Header(const std::uint8_t*& data, std::size_t& size) : data_(data), size_(size) {}
  std::uint8_t next() {
    if (size_ == 0) return 0;
    --size_;
    return *data_++;
  }

 private:
  const std::uint8_t*& data_;
  std::size_t& size_;
};

enum class Kind { kRead, kWrite, kQueued, kPump, kClose };
enum class Press { kNone, kStop, kCancel };

struct Event {
  explicit Event(Kind k) : kind(k) {}
  Kind kind;
  std::uint32_t want = 0;      // read: bytes asked for; write: bytes handed over
  std::uint32_t got = 0;       // read: bytes delivered; write: bytes written; queued: the count
  bool ok = true;              // the request succeeded
  std::int64_t before = 0;     // clock when the request began
  std::int64_t after = 0;      // clock when it ended
  std::string bytes;           // read: delivered; write: written
  Press press = Press::kNone;  // pump: what the operator pressed
};

class FuzzPort final : public serial::Port {
 public:
  FuzzPort(const std::uint8_t* script, std::size_t size, fakes::FakeHost& host) : script_(script), end_(script + size), host_(host) {
    settle();
    g_events = &events;
  }

  ~FuzzPort() { g_events = nullptr; }

  bool read(void* dst, std::uint32_t want, std::uint32_t& got) override {
    Event e{Kind::kRead};
    e.want = want;
    e.before = host_.t;
    got = 0;
    if (want == 0) {
      host_.t += 1;  // nothing to wait for: an idle request
    } else {
      if (op_ == Op::kNone) decode();
      switch (op_) {
        case Op::kData:
          got = static_cast<std::uint32_t>(left_ < want ? left_ : want);
          std::memcpy(dst, data_, got);
          e.bytes.assign(reinterpret_cast<const char*>(data_), got);
          data_ += got;
          left_ -= got;
          started_ = true;
          break;
        case Op::kIdle:
          host_.t += seconds_;
          --left_;
          break;
        case Op::kFail:
          e.ok = false;
          --left_;
          break;
        case Op::kNone:
          break;
      }
      if (left_ == 0) op_ = Op::kNone;
    }
    e.got = got;
    e.after = host_.t;
    events.push_back(e);
    settle();
    return e.ok;
  }

  bool write(const void* src, std::uint32_t n, std::uint32_t& written) override {
    Event e{Kind::kWrite};
    e.want = n;
    e.before = e.after = host_.t;
    written = n;
    if (fail_next_write_) {
      written = 0;
      e.ok = false;
    } else if (short_next_write_) {
      written = n / 2;
    }
    fail_next_write_ = short_next_write_ = false;
    e.got = written;
    e.bytes.assign(static_cast<const char*>(src), written);
    events.push_back(e);
    return e.ok;
  }

  std::uint32_t queued() override {
    Event e{Kind::kQueued};
    e.got = (op_ == Op::kData && started_) ? static_cast<std::uint32_t>(left_) : 0;
    e.before = e.after = host_.t;
    events.push_back(e);
    return e.got;
  }

  void close() override {
    Event e{Kind::kClose};
    e.before = e.after = host_.t;
    events.push_back(e);
  }

  // Called by the host's pump: records it and hands out a button press the input asked for.
  Press pump() {
    Event e{Kind::kPump};
    e.before = e.after = host_.t;
    if (stop_armed_) {
      e.press = Press::kStop;
      stop_armed_ = false;
    } else if (cancel_armed_) {
      e.press = Press::kCancel;
      cancel_armed_ = false;
    }
    events.push_back(e);
    return e.press;
  }

  std::vector<Event> events;

 private:
  enum class Op { kNone, kData, kIdle, kFail };

  std::uint8_t take() { return script_ < end_ ? *script_++ : 0; }

  // Applies the events at the head of the input once the current operation is used up.
  void settle() {
    while (op_ == Op::kNone && script_ < end_ && *script_ >= 0xC0 && *script_ <= 0xC3) {
      switch (take()) {
        case 0xC0: stop_armed_ = true; break;
        case 0xC1: cancel_armed_ = true; break;
        case 0xC2: fail_next_write_ = true; break;
        default: short_next_write_ = true; break;
      }
    }
  }

  // Makes the next operation of the input current (events were settled already).
  void decode() {
    started_ = false;
    seconds_ = 1;
    if (script_ >= end_) {  // past the input: idle for ever
      op_ = Op::kIdle;
      left_ = 1;
      return;
    }
    const std::uint8_t b = take();
    if (b < 0x80) {
      start_data(static_cast<std::size_t>(b) + 1);
    } else if (b < 0xA0) {
      op_ = Op::kIdle;
      left_ = static_cast<std::size_t>(b & 0x1F) + 1;
    } else if (b < 0xC0) {
      op_ = Op::kFail;
      left_ = static_cast<std::size_t>(b & 0x1F) + 1;
    } else if (b < 0xE0) {
      op_ = Op::kIdle;
      left_ = 1;
      seconds_ = (b & 0x1F) - 2;
    } else {
      const std::size_t n = (static_cast<std::size_t>(b & 0x1F) << 8 | take()) + 1;
      start_data(n);
    }
  }

  void start_data(std::size_t n) {
    const std::size_t available = static_cast<std::size_t>(end_ - script_);
    if (n > available) n = available;
    if (n == 0) {  // the input ended inside the header of a data operation
      op_ = Op::kIdle;
      left_ = 1;
      return;
    }
    op_ = Op::kData;
    data_ = script_;
    left_ = n;
    script_ += n;
  }

  const std::uint8_t* script_;
  const std::uint8_t* end_;
  fakes::FakeHost& host_;
  Op op_ = Op::kNone;
  std::size_t left_ = 0;            // data bytes, or requests, left of the current operation
  const std::uint8_t* data_ = nullptr;
  int seconds_ = 1;                 // of each idle request of the current operation
  bool started_ = false;            // a request has taken bytes of the current data operation
  bool stop_armed_ = false;
  bool cancel_armed_ = false;
  bool fail_next_write_ = false;
  bool short_next_write_ = false;
};

inline void trace(const std::vector<Event>& events) {
  static const char* const kNames[] = {"read", "write", "queued", "pump", "close"};
  for (const Event& e : events) {
    std::fprintf(stderr, "t+%-4lld %-6s want=%-4u got=%-4u%s%s ", static_cast<long long>(e.before - 1'000'000),
                 kNames[static_cast<int>(e.kind)], e.want, e.got, e.ok ? "" : " FAILED",
                 e.press == Press::kStop ? " STOP" : e.press == Press::kCancel ? " CANCEL" : "");
    for (unsigned char c : e.bytes) std::fprintf(stderr, c >= 0x20 && c < 0x7F ? "%c" : "\\x%02X", c);
    std::fprintf(stderr, "\n");
  }
}

[[noreturn]] inline void violated(const char* file, int line, const char* what) {
  if (g_events != nullptr && std::getenv("ZORVEN_FUZZ_TRACE") != nullptr) trace(*g_events);
  std::fprintf(stderr, "%s:%d: property violated: %s\n", file, line, what);
  std::abort();
}

// The bytes delivered by the read requests among events [from, to).
inline std::string delivered(const std::vector<Event>& events, std::size_t from, std::size_t to) {
  std::string s;
  for (std::size_t i = from; i < to; ++i)
    if (events[i].kind == Kind::kRead) s += events[i].bytes;
  return s;
}

// A reply line as the printer sent it: its bytes before the first CR or LF.
inline std::string line_of(const std::string& received) {
  const std::size_t end = received.find_first_of("\r\n");
  return end == std::string::npos ? received : received.substr(0, end);
}

inline bool begins_with(const std::string& line, const char* word) {
  return line.compare(0, std::strlen(word), word) == 0 && line.size() >= std::strlen(word);
}

}  // namespace fuzz
