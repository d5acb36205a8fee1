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
// answers {"ready":true} at once, then waits (polling every few milliseconds, also for the
// desktop) until the program's dialog is shown and answers a message, answers {"ok":true}, and
// closes the dialog with IDCANCEL. The caller starts the program after "ready", so the time
// between the two answers is the program's start-up as the operator sees it.
//
// Reads go through SendMessageTimeoutW: the program does not service messages while it waits
// for a reply line, and the driver must not hang on it. Texts are read with the W messages,
// which Wine marshals between processes (the A forms hand back UTF-16).
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/e2e/resources_win32.h"
#include "ui/resource.h"

namespace {

using nlohmann::json;

// The static text of a message box.
constexpr int kIdMessageText = 0xFFFF;

constexpr wchar_t kSettingsSection[] = L"Zorven";
constexpr wchar_t kUserKeyPath[] = L"Software\\Zorven";
constexpr const wchar_t* kSettingKeys[] = {L"Port", L"BaudRate"};

constexpr UINT kSendTimeoutMs = 500;
constexpr DWORD kPollMs = 100;
constexpr int kDesktopWaitPolls = 600;  // a minute
constexpr wchar_t kDialogClass[] = L"#32770";
constexpr wchar_t kDialogCaption[] = L"Zorven";

std::wstring g_exe_suffix;  // lower case, backslashes
HANDLE g_process = nullptr;  // the program, opened when its windows were first seen

std::wstring lower(std::wstring s) {
  for (auto& c : s) {
    c = static_cast<wchar_t>(towlower(c));
    if (c == L'/') c = L'\\';
  }
  return s;
}

std::wstring widen(const std::string& s) {
  int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
  std::wstring w(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, w.data(), n);
  return w;
}

std::string narrow(const std::wstring& w) {
  int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string s(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, s.data(), n, nullptr, nullptr);
  return s;
}

json texts(const std::vector<std::wstring>& v) {
  json out = json::array();
  for (const auto& w : v) out.push_back(narrow(w));
  return out;
}

// One answer: a JSON object on a line of its own.
int reply(const json& answer, int rc = 0) {
  std::printf("%s\n", answer.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
  return rc;
}

int reply_ok(json answer = json::object()) {
  answer["ok"] = true;
  return reply(answer);
}

int reply_error(const char* what, int rc = 1) { return reply({{"ok", false}, {"error", what}}, rc); }

bool is_program_process(DWORD pid) {
  HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!h) return false;
  wchar_t path[MAX_PATH * 2];
  DWORD len = MAX_PATH * 2;
  bool ok = QueryFullProcessImageNameW(h, 0, path, &len) != 0;
  CloseHandle(h);
  if (!ok) return false;
  std::wstring p = lower(path);
  bool match = p.size() >= g_exe_suffix.size() &&
               p.compare(p.size() - g_exe_suffix.size(), std::wstring::npos, g_exe_suffix) == 0;
  // Kept open so that its exit code can be read after it has gone.
  if (match && !g_process) g_process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  return match;
}

std::wstring class_of(HWND w) {
  wchar_t buf[64] = {};
  GetClassNameW(w, buf, 64);
  return buf;
}

bool send(HWND w, UINT msg, WPARAM wp, LPARAM lp, DWORD_PTR& result) {
  return SendMessageTimeoutW(w, msg, wp, lp, SMTO_NORMAL, kSendTimeoutMs, &result) != 0;
}

// Caption of a window of this process or another: WM_GETTEXT is marshalled by Wine.
bool text_of(HWND w, std::wstring& out) {
  DWORD_PTR len = 0;
  if (!send(w, WM_GETTEXTLENGTH, 0, 0, len)) return false;
  std::vector<wchar_t> buf(len + 2, L'\0');
  DWORD_PTR got = 0;
  if (!send(w, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), got)) return false;
  out.assign(buf.data());
  return true;
}

struct TopWindows {
  HWND dialog = nullptr;    // the update dialog
  HWND errorbox = nullptr;  // a message box of the program
  int count = 0;            // every top-level window of the program
};

BOOL CALLBACK collect(HWND w, LPARAM lp) {
  auto* t = reinterpret_cast<TopWindows*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (!is_program_process(pid)) return TRUE;
  ++t->count;
  if (class_of(w) != kDialogClass || !IsWindowVisible(w)) return TRUE;
  // The caption is read locally (GetWindowTextW of another process's window reads Wine's
  // cached copy without a message), so a busy program does not hide its windows.
  wchar_t caption[128] = {};
  GetWindowTextW(w, caption, 128);
  if (std::wcscmp(caption, kDialogCaption) == 0 && GetDlgItem(w, IDC_LOG) != nullptr)
    t->dialog = w;
  else if (GetDlgItem(w, kIdMessageText) != nullptr)
    t->errorbox = w;
  return TRUE;
}

TopWindows top_windows() {
  TopWindows t;
  EnumWindows(collect, reinterpret_cast<LPARAM>(&t));
  return t;
}

// Entries of a list box (LB_*) or a combo box's list (CB_*) from index `from` on; `count` is
// the whole number of entries.
struct ListMessages {
  UINT count, length, text;
};
constexpr ListMessages kListBox{LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT};
constexpr ListMessages kComboBox{CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT};

bool entries(HWND w, const ListMessages& m, DWORD_PTR from, DWORD_PTR& count, std::vector<std::wstring>& out) {
  if (!send(w, m.count, 0, 0, count)) return false;
  out.clear();
  for (DWORD_PTR i = from; i < count; ++i) {
    DWORD_PTR len = 0;
    if (!send(w, m.length, i, 0, len)) return false;
    std::vector<wchar_t> buf(len + 2, L'\0');
    DWORD_PTR got = 0;
    if (!send(w, m.text, i, reinterpret_cast<LPARAM>(buf.data()), got)) return false;
    out.emplace_back(buf.data());
  }
  return true;
}

bool combo_entries(HWND combo, std::vector<std::wstring>& out) {
  DWORD_PTR count = 0;
  return entries(combo, kComboBox, 0, count, out);
}

// The log list's lines from index `from` on; `count` is the list's whole length.
bool read_log(HWND dialog, DWORD_PTR from, DWORD_PTR& count, std::vector<std::wstring>& lines) {
  return entries(GetDlgItem(dialog, IDC_LOG), kListBox, from, count, lines);
}

// A log line's text after its "HH:MM:SS - " stamp; an empty line stays empty.
std::wstring log_text(const std::wstring& line) {
  size_t at = line.find(L" - ");
  return at == 8 ? line.substr(11) : line;
}

BOOL CALLBACK list_one(HWND w, LPARAM lp) {
  if (!IsWindowVisible(w)) return TRUE;
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  wchar_t caption[128] = {}, path[MAX_PATH * 2] = {};
  GetWindowTextW(w, caption, 128);
  if (HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {
    DWORD len = MAX_PATH * 2;
    if (!QueryFullProcessImageNameW(h, 0, path, &len)) path[0] = 0;
    CloseHandle(h);
  }
  reinterpret_cast<json*>(lp)->push_back(
      {{"pid", pid}, {"class", narrow(class_of(w))}, {"caption", narrow(caption)}, {"image", narrow(path)}});
  return TRUE;
}

// Polls `ready` until it holds or `secs` pass.
template <typename F>
bool wait_for(double secs, F ready) {
  DWORD start = GetTickCount();
  for (;;) {
    if (ready()) return true;
    if (GetTickCount() - start > static_cast<DWORD>(secs * 1000)) return false;
    Sleep(kPollMs);
  }
}

// A command's words: the command, then its arguments.
struct Words {
  const std::vector<std::string>& a;
  std::string arg(size_t i) const { return i < a.size() ? a[i] : std::string(); }
  double secs(size_t i) const { return i < a.size() ? std::atof(a[i].c_str()) : 10.0; }
};

// -- commands that need no dialog -------------------------------------------------------------

int cmd_windows(const Words&) {
  json list = json::array();
  EnumWindows(list_one, reinterpret_cast<LPARAM>(&list));
  return reply_ok({{"windows", list}});
}

// Each setting as {"profile": value or null, "user": value or null}.
int cmd_settings(const Words&) {
  json out = json::object();
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kUserKeyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) key = nullptr;
  for (const wchar_t* name : kSettingKeys) {
    wchar_t profile[512] = {};
    // A default that no real value has tells a missing key from an empty one.
    GetProfileStringW(kSettingsSection, name, L"\x1f", profile, 512);
    wchar_t user[512] = {};
    DWORD size = sizeof user - sizeof(wchar_t), type = 0;
    bool have_user = key && RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(user), &size) ==
                                ERROR_SUCCESS;
    out[narrow(name)] = {{"profile", std::wcscmp(profile, L"\x1f") == 0 ? json(nullptr) : json(narrow(profile))},
                         {"user", have_user ? json(narrow(user)) : json(nullptr)}};
  }
  if (key) RegCloseKey(key);
  return reply_ok(out);
}

int cmd_reset_settings(const Words&) {
  WriteProfileStringW(kSettingsSection, nullptr, nullptr);  // removes the whole section
  LONG rc = RegDeleteKeyW(HKEY_CURRENT_USER, kUserKeyPath);
  if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return reply_error("cannot delete the per-user settings");
  return reply_ok();
}

bool program_seen() {
  if (!g_process) top_windows();
  return g_process != nullptr;
}

int cmd_resources(const Words&) {
  if (!program_seen()) return reply_error("program never seen");
  const DWORD pid = GetProcessId(g_process);
  ProcessResources r;
  if (!probe_resources(pid, r)) return reply_error("cannot open the program's process");
  return reply_ok({{"pid", pid},
                   {"handles", r.handles},
                   {"handles_ok", r.handles_ok},
                   {"handles_error", r.handles_error},
                   {"gui_user", r.gui_user},
                   {"gui_user_error", r.gui_user_error},
                   {"gui_gdi", r.gui_gdi},
                   {"gui_gdi_error", r.gui_gdi_error},
                   {"gdi_table", r.gdi_table},
                   {"system_handles", r.system_handles},
                   {"windows", r.windows}});
}

int cmd_wait_exit(const Words& w) {
  if (!program_seen()) return reply_error("program never seen");
  DWORD code = 0;
  if (WaitForSingleObject(g_process, static_cast<DWORD>(w.secs(1) * 1000)) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(g_process, &code))
    return reply_error("still running");
  return reply_ok({{"exit_code", code}});
}

int cmd_wait_gone(const Words& w) {
  if (!wait_for(w.secs(1), [] { return top_windows().count == 0; })) return reply_error("still there");
  return reply_ok();
}

// -- the program's message box ----------------------------------------------------------------

HWND find_errorbox(double secs) {
  HWND box = nullptr;
  wait_for(secs, [&] { return (box = top_windows().errorbox) != nullptr; });
  return box;
}

int show_errorbox(HWND box) {
  std::wstring caption, text;
  if (!text_of(box, caption) || !text_of(GetDlgItem(box, kIdMessageText), text)) return reply_error("busy");
  return reply_ok({{"caption", narrow(caption)}, {"text", narrow(text)}});
}

int cmd_errorbox(const Words&) {
  HWND box = find_errorbox(0);
  return box ? show_errorbox(box) : reply_error("no error box");
}

int cmd_wait_errorbox(const Words& w) {
  HWND box = find_errorbox(w.secs(1));
  return box ? show_errorbox(box) : reply_error("no error box");
}

int cmd_dismiss_errorbox(const Words&) {
  HWND box = find_errorbox(0);
  if (!box) return reply_error("no error box");
  if (!PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0)) return reply_error("post failed");
  return reply_ok();
}

// -- commands on the update dialog ------------------------------------------------------------

json enabled_states(HWND d) {
  auto enabled = [&](int id) { return IsWindowEnabled(GetDlgItem(d, id)) != 0; };
  return {{"port", enabled(IDC_PORT)}, {"speed", enabled(IDC_SPEED)}, {"start", enabled(IDOK)},
          {"cancel", enabled(IDCANCEL)}};
}

int cmd_wait_dialog(HWND, const Words&) { return reply_ok(); }

int cmd_state(HWND d, const Words&) {
  std::vector<std::wstring> ports, speeds, lines;
  std::wstring port_text, version, start_text;
  DWORD_PTR port_sel = 0, speed_sel = 0, progress = 0, count = 0;
  HWND port = GetDlgItem(d, IDC_PORT), speed = GetDlgItem(d, IDC_SPEED);
  if (!combo_entries(port, ports) || !combo_entries(speed, speeds) || !read_log(d, 0, count, lines) ||
      !text_of(port, port_text) || !text_of(GetDlgItem(d, IDC_VERSION), version) ||
      !text_of(GetDlgItem(d, IDOK), start_text) || !send(port, CB_GETCURSEL, 0, 0, port_sel) ||
      !send(speed, CB_GETCURSEL, 0, 0, speed_sel) || !send(GetDlgItem(d, IDC_PROGRESS), PBM_GETPOS, 0, 0, progress))
    return reply_error("busy");
  RECT r{};
  GetWindowRect(d, &r);
  return reply_ok({{"ports", texts(ports)},
                   {"port_sel", static_cast<int>(port_sel)},
                   {"port_text", narrow(port_text)},
                   {"speeds", texts(speeds)},
                   {"speed_sel", static_cast<int>(speed_sel)},
                   {"version", narrow(version)},
                   {"start_text", narrow(start_text)},
                   {"progress", static_cast<int>(progress)},
                   {"enabled", enabled_states(d)},
                   {"rect", {r.left, r.top, r.right, r.bottom}},
                   {"log", texts(lines)}});
}

int cmd_controls(HWND d, const Words&) {
  std::wstring start_text;
  DWORD_PTR progress = 0;
  if (!text_of(GetDlgItem(d, IDOK), start_text) || !send(GetDlgItem(d, IDC_PROGRESS), PBM_GETPOS, 0, 0, progress))
    return reply_error("busy");
  return reply_ok(
      {{"start_text", narrow(start_text)}, {"progress", static_cast<int>(progress)}, {"enabled", enabled_states(d)}});
}

int cmd_log(HWND d, const Words&) {
  std::vector<std::wstring> lines;
  DWORD_PTR count = 0;
  if (!read_log(d, 0, count, lines)) return reply_error("busy");
  return reply_ok({{"log", texts(lines)}});
}

// The log from index `from` on, once a line there reads `want` after its stamp (or at once when
// `want` is not asked for); "count" is the whole log's length.
int log_from(HWND d, DWORD_PTR from, const std::wstring* want, double secs) {
  DWORD_PTR count = 0;
  std::vector<std::wstring> lines;
  bool found = wait_for(secs, [&] {
    if (!IsWindow(d) || !read_log(d, from, count, lines)) return false;
    if (!want) return true;
    for (const auto& l : lines)
      if (log_text(l) == *want) return true;
    return false;
  });
  return reply({{"ok", found}, {"count", count}, {"log", texts(lines)}}, found ? 0 : 1);
}

int cmd_log_from(HWND d, const Words& w) {
  return log_from(d, std::strtoul(w.arg(1).c_str(), nullptr, 10), nullptr, 0);
}

int cmd_wait_log_from(HWND d, const Words& w) {
  const std::wstring want = widen(w.arg(2));
  return log_from(d, std::strtoul(w.arg(1).c_str(), nullptr, 10), &want, w.secs(3));
}

int cmd_wait_log(HWND d, const Words& w) {
  const std::wstring want = widen(w.arg(1));
  std::vector<std::wstring> lines;
  bool found = wait_for(w.secs(2), [&] {
    DWORD_PTR count = 0;
    if (!IsWindow(d) || !read_log(d, 0, count, lines)) return false;
    for (const auto& l : lines)
      if (log_text(l) == want) return true;
    return false;
  });
  return reply({{"ok", found}, {"log", texts(lines)}}, found ? 0 : 1);
}

int select_entry(HWND combo, const std::wstring& want, bool may_type) {
  std::vector<std::wstring> list;
  if (!combo_entries(combo, list)) return reply_error("busy");
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i] == want) {
      DWORD_PTR r = 0;
      if (!send(combo, CB_SETCURSEL, i, 0, r)) break;
      return reply_ok({{"index", static_cast<int>(i)}});
    }
  }
  DWORD_PTR r = 0;
  if (may_type && send(combo, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(want.c_str()), r))
    return reply_ok({{"index", -1}});
  return reply_error("no such entry");
}

int cmd_set_port(HWND d, const Words& w) { return select_entry(GetDlgItem(d, IDC_PORT), widen(w.arg(1)), true); }
int cmd_set_speed(HWND d, const Words& w) { return select_entry(GetDlgItem(d, IDC_SPEED), widen(w.arg(1)), false); }

int cmd_press(HWND d, const Words& w) {
  const std::string which = w.arg(1);
  int id = which == "START" || which == "STOP" ? IDOK : which == "CANCEL" ? IDCANCEL : -1;
  if (id < 0) return reply_error("unknown button", 2);
  if (!PostMessageW(GetDlgItem(d, id), BM_CLICK, 0, 0)) return reply_error("post failed");
  return reply_ok();
}

int cmd_command(HWND d, const Words& w) {
  if (!PostMessageW(d, WM_COMMAND, MAKEWPARAM(std::atoi(w.arg(1).c_str()), BN_CLICKED), 0))
    return reply_error("post failed");
  return reply_ok();
}

int cmd_wait_idle(HWND d, const Words& w) {
  bool idle = wait_for(w.secs(1), [&] {
    std::wstring t;
    return IsWindow(d) && text_of(GetDlgItem(d, IDOK), t) && t == L"START" && IsWindowEnabled(GetDlgItem(d, IDCANCEL));
  });
  return idle ? reply_ok() : reply_error("still running");
}

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

BOOL CALLBACK note_program_window(HWND w, LPARAM lp) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (!is_program_process(pid)) return TRUE;
  *reinterpret_cast<bool*>(lp) = true;
  return FALSE;
}

// Moves this thread into the desktop that the test started the program in, once the
// program has a window there: the driver starts alongside the program, and a thread that looks
// at a desktop whose explorer has not set it up yet would make Wine start one of its own.
bool enter_desktop(const std::wstring& name) {
  HDESK desk = nullptr;
  bool seen = false;
  for (int i = 0; i < kDesktopWaitPolls && !seen; ++i) {
    if (!desk) desk = OpenDesktopW(name.c_str(), 0, FALSE, GENERIC_ALL);
    if (desk) EnumDesktopWindows(desk, note_program_window, reinterpret_cast<LPARAM>(&seen));
    if (!seen) Sleep(kPollMs);
  }
  return seen && SetThreadDesktop(desk);
}

constexpr DWORD kStartPollMs = 2;

// The time-start command: see the head of this file.
int time_start(const std::wstring& name, double secs) {
  reply_ok({{"ready", true}});
  std::fflush(stdout);
  const DWORD start = GetTickCount();
  const DWORD limit = static_cast<DWORD>(secs * 1000);
  HDESK desk = nullptr;
  bool seen = false;
  while (!seen && GetTickCount() - start <= limit) {
    if (!desk) desk = OpenDesktopW(name.c_str(), 0, FALSE, GENERIC_ALL);
    if (desk) EnumDesktopWindows(desk, note_program_window, reinterpret_cast<LPARAM>(&seen));
    if (!seen) Sleep(kStartPollMs);
  }
  if (!seen || !SetThreadDesktop(desk)) {
    return reply_error("the program did not show up");
  }
  HWND d = nullptr;
  DWORD_PTR len = 0;
  while (GetTickCount() - start <= limit) {
    d = top_windows().dialog;
    if (d && SendMessageTimeoutW(d, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &len)) {
      reply_ok();
      std::fflush(stdout);
      PostMessageW(d, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      return 0;
    }
    Sleep(kStartPollMs);
  }
  return reply_error("no dialog");
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
    g_exe_suffix = lower(widen(args[1]));
    args.erase(args.begin(), args.begin() + 2);
  }
  if (g_exe_suffix.empty()) {
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
