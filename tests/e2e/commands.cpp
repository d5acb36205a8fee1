// The driver's commands: the program's settings, process and windows, its message box, and the
// update dialog's controls.
#include "tests/e2e/commands.h"

#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <cwchar>

#include "tests/e2e/answer.h"
#include "tests/e2e/resources_win32.h"
#include "tests/e2e/window_access.h"
#include "ui/resource.h"

namespace driver {

namespace {

constexpr wchar_t kSettingsSection[] = L"Zorven";
constexpr wchar_t kUserKeyPath[] = L"Software\\Zorven";
constexpr const wchar_t* kSettingKeys[] = {L"Port", L"BaudRate"};

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

}  // namespace

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

int cmd_resources(const Words&) {
  if (!program_seen()) return reply_error("program never seen");
  const DWORD pid = GetProcessId(program_process());
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
  if (WaitForSingleObject(program_process(), static_cast<DWORD>(w.secs(1) * 1000)) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(program_process(), &code))
    return reply_error("still running");
  return reply_ok({{"exit_code", code}});
}

int cmd_wait_gone(const Words& w) {
  if (!wait_for(w.secs(1), [] { return top_windows().count == 0; })) return reply_error("still there");
  return reply_ok();
}

// -- the program's message box ----------------------------------------------------------------

namespace {

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

}  // namespace

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

namespace {

json enabled_states(HWND d) {
  auto enabled = [&](int id) { return IsWindowEnabled(GetDlgItem(d, id)) != 0; };
  return {{"port", enabled(IDC_PORT)}, {"speed", enabled(IDC_SPEED)}, {"start", enabled(IDOK)},
          {"cancel", enabled(IDCANCEL)}};
}

}  // namespace

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

namespace {

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

}  // namespace

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

namespace {

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

}  // namespace

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

}  // namespace driver
