// The driver's commands (see driver.cpp for the list). Each prints its one answer and returns
// the driver's exit status for it.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace driver {

// A command's words: the command, then its arguments.
struct Words {
  const std::vector<std::string>& a;
  std::string arg(size_t i) const { return i < a.size() ? a[i] : std::string(); }
  double secs(size_t i) const { return i < a.size() ? std::atof(a[i].c_str()) : 10.0; }
};

// Commands that need no dialog.
int cmd_windows(const Words&);
int cmd_settings(const Words&);
int cmd_reset_settings(const Words&);
int cmd_resources(const Words&);
int cmd_wait_exit(const Words&);
int cmd_wait_gone(const Words&);

// The program's message box.
int cmd_errorbox(const Words&);
int cmd_wait_errorbox(const Words&);
int cmd_dismiss_errorbox(const Words&);

// Commands on the update dialog, which the caller has found.
int cmd_wait_dialog(HWND d, const Words&);
int cmd_state(HWND d, const Words&);
int cmd_controls(HWND d, const Words&);
int cmd_log(HWND d, const Words&);
int cmd_log_from(HWND d, const Words& w);
int cmd_wait_log_from(HWND d, const Words& w);
int cmd_wait_log(HWND d, const Words& w);
int cmd_set_port(HWND d, const Words& w);
int cmd_set_speed(HWND d, const Words& w);
int cmd_press(HWND d, const Words& w);
int cmd_command(HWND d, const Words& w);
int cmd_wait_idle(HWND d, const Words& w);

}  // namespace driver
