// Test doubles for the platform seams: a port whose every read request is scripted or served from
// an input queue that a scripted printer fills, and a host with a clock the test moves.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "serial/host.h"
#include "serial/port.h"

namespace fakes {

class FakeHost final : public serial::Host {
 public:
  std::int64_t now_seconds() override { return t; }
  void pump_one() override {
    ++pumps;
    if (on_pump) on_pump();
  }

  std::int64_t t = 1'000'000;  // calendar seconds
  int pumps = 0;
  std::function<void()> on_pump;
};

// One scripted read request: what it returns and how long it takes on the calendar clock.
struct ReadStep {
  std::string bytes;     // delivered (up to the amount asked for; the rest stays for the next request)
  bool fail = false;     // the request fails outright
  int seconds = 0;       // calendar seconds that pass during the request
};

inline ReadStep idle(int seconds = 1) { return ReadStep{"", false, seconds}; }
inline ReadStep data(std::string b, int seconds = 0) { return ReadStep{std::move(b), false, seconds}; }
inline ReadStep failed() { return ReadStep{"", true, 0}; }

class FakePort final : public serial::Port {
 public:
  explicit FakePort(FakeHost& host) : host_(host) {}

  // Scripted requests are served first; then the input queue; an empty queue makes an idle
  // request that lasts one second.
  bool read(void* dst, std::uint32_t want, std::uint32_t& got) override {
    ++read_requests;
    requested.push_back(want);
    got = 0;
    if (!steps.empty()) {
      ReadStep& s = steps.front();
      host_.t += s.seconds;
      if (s.fail) {
        steps.pop_front();
        return false;
      }
      got = static_cast<std::uint32_t>(std::min<std::size_t>(want, s.bytes.size()));
      std::memcpy(dst, s.bytes.data(), got);
      if (got < s.bytes.size()) {
        s.bytes.erase(0, got);
        s.seconds = 0;
      } else {
        steps.pop_front();
      }
      return true;
    }
    if (input.empty()) {
      host_.t += 1;
      return true;
    }
    got = static_cast<std::uint32_t>(std::min<std::size_t>(want, input.size()));
    std::copy_n(input.begin(), got, static_cast<std::uint8_t*>(dst));
    input.erase(input.begin(), input.begin() + got);
    return true;
  }

  bool write(const void* src, std::uint32_t n, std::uint32_t& written) override {
    const auto* p = static_cast<const std::uint8_t*>(src);
    std::vector<std::uint8_t> chunk(p, p + n);
    if (fail_writes_from >= 0 && static_cast<int>(writes.size()) >= fail_writes_from) {
      written = 0;
      writes.push_back({});
      return false;
    }
    written = short_writes ? n / 2 : n;
    chunk.resize(written);
    writes.push_back(chunk);
    if (on_write) on_write(chunk);
    return true;
  }

  std::uint32_t queued() override {
    ++status_queries;
    if (queued_override >= 0) return static_cast<std::uint32_t>(queued_override);
    return static_cast<std::uint32_t>(input.size());
  }

  void close() override { ++closes; }

  void feed(const std::string& s) { input.insert(input.end(), s.begin(), s.end()); }
  void feed(const std::vector<std::uint8_t>& b) { input.insert(input.end(), b.begin(), b.end()); }

  std::string written_text() const {
    std::string s;
    for (const auto& w : writes) s.append(w.begin(), w.end());
    return s;
  }

  std::deque<ReadStep> steps;
  std::deque<std::uint8_t> input;
  std::vector<std::vector<std::uint8_t>> writes;
  std::vector<std::uint32_t> requested;  // bytes asked for by each read request
  std::function<void(const std::vector<std::uint8_t>&)> on_write;
  int fail_writes_from = -1;  // index of the first write that fails; -1: none
  bool short_writes = false;
  long queued_override = -1;
  int read_requests = 0;
  int status_queries = 0;
  int closes = 0;

 private:
  FakeHost& host_;
};

}  // namespace fakes
