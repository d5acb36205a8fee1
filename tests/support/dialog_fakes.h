// A dialog whose controls record what its run observer does to them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/dialog_ops.h"

namespace fakes {

class RecordingOps final : public ui::DialogOps {
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
  void* focused = reinterpret_cast<void*>(0x1234);
  void* focused_back = nullptr;
};

}  // namespace fakes
