// Test doubles for an update run's surroundings: an observer that records what the run reports,
// and a platform that hands out a FakePort and records production log appends.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/fakes.h"
#include "update/platform.h"
#include "update/run.h"

namespace fakes {

// Records what a run reports, in order: "log <text>", "progress <position>", "after_query",
// "before_transfer", "turning_off" and, from over(), "end <outcome>"; the block verdicts apart, in `retries`.
class RecordingObserver final : public update::RunObserver {
 public:
  void log_line(const char* text) override {
    std::string s = text ? text : "";
    log.push_back(s);
    events.push_back("log " + s);
  }
  void progress(std::uint32_t position, std::uint32_t bytes_acknowledged) override {
    positions.push_back(position);
    acknowledged.push_back(bytes_acknowledged);
    events.push_back("progress " + std::to_string(position));
  }
  void block_answered(bool retry) override { retries.push_back(retry); }
  void after_query() override { events.push_back("after_query"); }
  void before_transfer() override { events.push_back("before_transfer"); }
  void printer_turning_off() override { events.push_back("turning_off"); }
  // What the run returned, recorded as the last event.
  void over(const update::RunResult& r) {
    result = r;
    events.push_back("end " + std::to_string(static_cast<int>(r.outcome)));
  }

  std::vector<std::string> log;     // log lines as added, null texts as ""
  std::vector<std::string> events;  // everything in order
  std::vector<std::uint32_t> positions;     // progress positions in order
  std::vector<std::uint32_t> acknowledged;  // bytes acknowledged at each progress report
  std::vector<bool> retries;                // each block verdict in order: true for RETRY
  update::RunResult result;  // as the run returned it
};

class FakePlatform final : public update::Platform {
 public:
  FakePlatform(FakePort& port, FakeHost& host) : port_(port), host_(host) {}

  serial::Port* open_port(const char* name, std::uint32_t speed) override {
    opened_name = name;
    opened_speed = speed;
    ++opens;
    return can_open ? &port_ : nullptr;
  }
  serial::Host& host() override { return host_; }
  update::LocalTime local_time() override { return now; }
  bool append_file(const char* file_name, const char* data, std::size_t n, char* why, std::size_t why_cap) override {
    appended_to = file_name;
    if (!can_append) {
      std::snprintf(why, why_cap, "%s", append_refusal.c_str());
      return false;
    }
    appended.emplace_back(data, n);
    return true;
  }

  bool can_open = true;
  bool can_append = true;
  std::string append_refusal = "the file is in use by another program";
  int opens = 0;
  std::string opened_name;
  std::uint32_t opened_speed = 0;
  update::LocalTime now{2026, 12, 6, 3, 57, 54};
  std::string appended_to;
  std::vector<std::string> appended;  // one entry per successful append

 private:
  FakePort& port_;
  FakeHost& host_;
};

}  // namespace fakes
