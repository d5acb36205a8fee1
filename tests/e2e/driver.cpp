// zorven-driver: drives a running zorven.exe from outside through window messages, for the
// end-to-end tests. It runs in the same Wine prefix as the program and finds the program's
// windows by the path of its executable, so that several programs can run side by side.
//
//   zorven-driver [--desktop NAME] --exe PATH-SUFFIX COMMAND [ARGS...]   one command
//   zorven-driver [--desktop NAME] --exe PATH-SUFFIX serve                commands from stdin
//
// With --desktop the driver works in that (virtual) desktop, where the tests run the program.
//
// Commands (answers are one JSON object per line on stdout):
//   wait-dialog SECS         wait until the update dialog is visible
//   state                    combos, version, START text, enabled states, progress, window
//                            rectangle (left, top, right, bottom), log
//   log                      the log list's lines
//   log-from N               the number of log lines and the lines from index N on
//   wait-log-from N TEXT SECS   wait for a line at index N or later whose text is TEXT
//   controls                 START text, enabled states and progress, without the lists
//   resources                the program's process as Windows reports it: handle count
//                            (GetProcessHandleCount), USER and GDI objects (GetGuiResources,
//                            with the error each call left), GDI objects counted in its GDI
//                            handle table (-1: not readable), its handles in the system's handle
//                            list (-1: not available), and its windows, children included
//   set-port TEXT            pick TEXT from the port list, or type it into the edit field
//   set-speed TEXT           pick TEXT from the speed list
//   press START|CANCEL       click the button (a posted BM_CLICK, as a mouse click would)
//   command ID               post WM_COMMAND ID to the dialog (what Enter and Esc send)
//   wait-log TEXT SECS       wait for a log line whose text after the time stamp is TEXT
//   wait-idle SECS           wait until the button reads START and Cancel is enabled again
//   errorbox                 the message box the program shows, if any
//   wait-errorbox SECS       wait for that box
//   dismiss-errorbox         press its OK button
//   wait-gone SECS           wait until the program has no window left
//   wait-exit SECS           wait until the program has ended; its exit code
//   windows                  every visible top-level window with its process (for diagnosis)
//   settings                 the saved "Port" and "BaudRate": profile strings and per-user values
//   reset-settings           removes both, so that the program starts with its defaults
//
//   zorven-driver --desktop NAME --exe PATH-SUFFIX time-start SECS
// is the transfer benchmark's start-up timer (bench_commands.h).
//
// This file holds the command line and the command table; window_access.h reaches the program's
// windows, commands.h holds the commands, answer.h prints their answers.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/e2e/answer.h"
#include "tests/e2e/bench_commands.h"
#include "tests/e2e/commands.h"
#include "tests/e2e/window_access.h"

namespace {

using namespace driver;

// -- the command table ------------------------------------------------------------------------

const struct {
  const char* name;
  int (*run)(const Words&);
} kCommands[] = {
    {"windows", cmd_windows},         {"settings", cmd_settings},   {"resources", cmd_resources},
    {"reset-settings", cmd_reset_settings}, {"wait-exit", cmd_wait_exit}, {"wait-gone", cmd_wait_gone},
    {"errorbox", cmd_errorbox},       {"wait-errorbox", cmd_wait_errorbox},
    {"dismiss-errorbox", cmd_dismiss_errorbox},
};

// These need the update dialog; wait-dialog waits for it.
const struct {
  const char* name;
  int (*run)(HWND, const Words&);
} kDialogCommands[] = {
    {"wait-dialog", cmd_wait_dialog}, {"state", cmd_state},         {"log", cmd_log},
    {"controls", cmd_controls},       {"log-from", cmd_log_from},   {"wait-log-from", cmd_wait_log_from},
    {"set-port", cmd_set_port},       {"set-speed", cmd_set_speed}, {"press", cmd_press},
    {"command", cmd_command},         {"wait-log", cmd_wait_log},   {"wait-idle", cmd_wait_idle},
};

int run(const std::vector<std::string>& a) {
  if (a.empty()) return reply_error("no command", 2);
  const Words w{a};
  for (const auto& c : kCommands)
    if (a[0] == c.name) return c.run(w);
  for (const auto& c : kDialogCommands) {
    if (a[0] != c.name) continue;
    HWND d = nullptr;
    wait_for(a[0] == "wait-dialog" ? w.secs(1) : 0, [&] { return (d = top_windows().dialog) != nullptr; });
    if (!d) return reply_error("no dialog");
    return c.run(d, w);
  }
  return reply_error("unknown command", 2);
}

std::vector<std::string> split(const char* line) {
  // Words separated by blanks; a word in double quotes may hold blanks.
  std::vector<std::string> out;
  const char* p = line;
  while (*p) {
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
    if (!*p) break;
    std::string w;
    if (*p == '"') {
      ++p;
      while (*p && *p != '"') w += *p++;
      if (*p == '"') ++p;
    } else {
      while (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') w += *p++;
    }
    out.push_back(w);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string desktop;
  if (args.size() >= 2 && args[0] == "--desktop") {
    desktop = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.size() >= 2 && args[0] == "--exe") {
    set_program(args[1]);
    args.erase(args.begin(), args.begin() + 2);
  }
  if (!program_named()) {
    std::fputs("usage: zorven-driver --exe PATH-SUFFIX (serve | COMMAND [ARGS...])\n", stderr);
    return 2;
  }
  if (!desktop.empty() && !args.empty() && args[0] == "time-start")
    return time_start(widen(desktop), args.size() > 1 ? std::atof(args[1].c_str()) : 60.0);
  if (!desktop.empty() && !enter_desktop(widen(desktop))) {
    std::fprintf(stderr, "zorven-driver: the program did not show up in desktop %s\n", desktop.c_str());
    return 2;
  }
  if (!args.empty() && args[0] == "serve") {
    char line[4096];
    while (std::fgets(line, sizeof line, stdin)) {
      std::vector<std::string> a = split(line);
      if (a.empty()) continue;
      if (a[0] == "quit") break;
      run(a);
      std::fflush(stdout);
    }
    return 0;
  }
  int rc = run(args);
  std::fflush(stdout);
  return rc;
}
