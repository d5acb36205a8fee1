// Test doubles for an update run's surroundings: a dialog that records what the run shows the
// operator, and a platform that hands out a FakePort and records production log appends.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/fakes.h"
#include "update/dialog_ops.h"
#include "update/platform.h"

namespace fakes {

class RecordingOps final : public update::DialogOps {
 public:
  void add_log_line(const char* text) override {
    std::string s = text ? text : "";
    log.push_back(s);
    events.push_back("log " + s);
  }
  void set_controls_enabled(bool enabled) override { events.push_back(enabled ? "enable" : "disable"); }
  void set_progress(std::uint32_t position) override {
    progress.push_back(position);
    events.push_back("progress " + std::to_string(position));
  }
  void repaint_log() override { events.push_back("repaint"); }
  void error_box(const char* text) override { events.push_back(std::string("error_box ") + text); }
  void port_text(char* dst, std::size_t cap) override {
    std::strncpy(dst, port_name.c_str(), cap - 1);
    dst[cap - 1] = 0;
  }
  int speed_index() override { return speed; }
  void* focus() override {
    events.push_back("focus");
    return focused;
  }
  void set_focus(void* window) override {
    events.push_back("set_focus");
    focused_back = window;
  }

  std::vector<std::string> log;     // log lines as added, null texts as ""
  std::vector<std::string> events;  // every operation in order
  std::vector<std::uint32_t> progress;
  std::string port_name = "COM5";
  int speed = 0;
  void* focused = reinterpret_cast<void*>(0x1234);
  void* focused_back = nullptr;
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
  bool append_file(const char* file_name, const char* data, std::size_t n) override {
    appended_to = file_name;
    if (!can_append) return false;
    appended.emplace_back(data, n);
    return true;
  }

  bool can_open = true;
  bool can_append = true;
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
