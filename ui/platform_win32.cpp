#include "ui/platform_win32.h"

#include <windows.h>

#include <ctime>

#include "serial/port_win32.h"
#include "update/file_append.h"

namespace ui {

namespace {

class WindowsHost final : public serial::Host {
 public:
  std::int64_t now_seconds() override { return static_cast<std::int64_t>(std::time(nullptr)); }

  // Removes and dispatches at most one message of the thread, for any window. The dialog's own
  // keyboard handling is deliberately left out: during a run only mouse clicks on enabled
  // controls reach the dialog's handlers.
  void pump_one() override {
    MSG msg;
    if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
};

class WindowsPlatform final : public update::Platform {
 public:
  serial::Port* open_port(const char* name, std::uint32_t speed) override {
    HANDLE h = serial::open_port(name, speed);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    // One run at a time holds the port, so one port object serves every run.
    port_.attach(h);
    return &port_;
  }

  serial::Host& host() override { return host_; }

  update::LocalTime local_time() override { return update::local_time_now(); }

  bool append_file(const char* file_name, const char* data, std::size_t n, char* why, std::size_t why_cap) override {
    return update::append_file(file_name, data, n, why, why_cap);
  }

 private:
  serial::Win32Port port_;
  WindowsHost host_;
};

WindowsPlatform g_platform;

}  // namespace

update::Platform& windows_platform() { return g_platform; }

}  // namespace ui
