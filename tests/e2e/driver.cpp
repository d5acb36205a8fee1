// zorven-driver: drives a running zorven.exe from outside through window messages, for the
// end-to-end tests. It runs in the same Wine prefix as the program and finds the program's
// windows by the path of its executable, so that several programs can run side by side.
//
//   zorven-driver [--desktop NAME] --exe PATH-SUFFIX COMMAND [ARGS...]   one command
//   zorven-driver [--desktop NAME] --exe PATH-SUFFIX serve                commands from stdin
//
// With --desktop the driver works in that (virtual) desktop, where the harness runs the program.
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

#include <winternl.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// Control IDs of the update dialog.
constexpr int kIdStart = 1;
constexpr int kIdCancel = 2;
constexpr int kIdProgress = 1000;
constexpr int kIdPort = 1001;
constexpr int kIdSpeed = 1002;
constexpr int kIdLog = 1005;
constexpr int kIdVersion = 1006;
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

std::wstring widen(const char* s) {
  int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
  std::wstring w(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_UTF8, 0, s, -1, w.data(), n);
  return w;
}

std::string narrow(const std::wstring& w) {
  int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string s(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, s.data(), n, nullptr, nullptr);
  return s;
}

std::string json(const std::wstring& w) {
  std::string s = narrow(w), out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string json_list(const std::vector<std::wstring>& v) {
  std::string out = "[";
  for (size_t i = 0; i < v.size(); ++i) {
    if (i) out += ',';
    out += json(v[i]);
  }
  return out + "]";
}

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

// Caption of a window of this process or another: WM_GETTEXT is marshalled by Wine.
bool text_of(HWND w, std::wstring& out) {
  DWORD_PTR len = 0;
  if (!SendMessageTimeoutW(w, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &len)) return false;
  std::vector<wchar_t> buf(len + 2, L'\0');
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(w, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), SMTO_NORMAL,
                           kSendTimeoutMs, &got))
    return false;
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
  if (std::wcscmp(caption, kDialogCaption) == 0 && GetDlgItem(w, kIdLog) != nullptr)
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

bool send(HWND w, UINT msg, WPARAM wp, LPARAM lp, DWORD_PTR& result) {
  return SendMessageTimeoutW(w, msg, wp, lp, SMTO_NORMAL, kSendTimeoutMs, &result) != 0;
}

// Entries of a combo box (CB_*) or list box (LB_*).
bool items(HWND w, bool combo, std::vector<std::wstring>& out) {
  UINT get_count = combo ? CB_GETCOUNT : LB_GETCOUNT;
  UINT get_len = combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN;
  UINT get_text = combo ? CB_GETLBTEXT : LB_GETTEXT;
  DWORD_PTR n = 0;
  if (!send(w, get_count, 0, 0, n)) return false;
  out.clear();
  for (DWORD_PTR i = 0; i < n; ++i) {
    DWORD_PTR len = 0;
    if (!send(w, get_len, i, 0, len)) return false;
    std::vector<wchar_t> buf(len + 2, L'\0');
    DWORD_PTR got = 0;
    if (!send(w, get_text, i, reinterpret_cast<LPARAM>(buf.data()), got)) return false;
    out.emplace_back(buf.data());
  }
  return true;
}

BOOL CALLBACK list_one(HWND w, LPARAM lp) {
  if (!IsWindowVisible(w)) return TRUE;
  auto* out = reinterpret_cast<std::string*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  wchar_t caption[128] = {}, path[MAX_PATH * 2] = {};
  GetWindowTextW(w, caption, 128);
  if (HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {
    DWORD len = MAX_PATH * 2;
    if (!QueryFullProcessImageNameW(h, 0, path, &len)) path[0] = 0;
    CloseHandle(h);
  }
  char head[32];
  std::snprintf(head, sizeof head, "%s{\"pid\":%lu,", out->size() > 1 ? "," : "", static_cast<unsigned long>(pid));
  *out += head + std::string("\"class\":") + json(class_of(w)) + ",\"caption\":" + json(caption) +
          ",\"image\":" + json(path) + "}";
  return TRUE;
}

void reply_error(const char* what) { std::printf("{\"ok\":false,\"error\":\"%s\"}\n", what); }

// A log line's text after its "HH:MM:SS - " stamp; an empty line stays empty.
std::wstring log_text(const std::wstring& line) {
  size_t at = line.find(L" - ");
  return at == 8 ? line.substr(11) : line;
}

bool read_log(HWND dialog, std::vector<std::wstring>& lines) {
  return items(GetDlgItem(dialog, kIdLog), false, lines);
}

int cmd_state(HWND d) {
  std::vector<std::wstring> ports, speeds, lines;
  std::wstring port_text, version, start_text;
  DWORD_PTR port_sel = 0, speed_sel = 0, progress = 0;
  HWND port = GetDlgItem(d, kIdPort), speed = GetDlgItem(d, kIdSpeed);
  if (!items(port, true, ports) || !items(speed, true, speeds) || !read_log(d, lines) ||
      !text_of(port, port_text) || !text_of(GetDlgItem(d, kIdVersion), version) ||
      !text_of(GetDlgItem(d, kIdStart), start_text) || !send(port, CB_GETCURSEL, 0, 0, port_sel) ||
      !send(speed, CB_GETCURSEL, 0, 0, speed_sel) ||
      !send(GetDlgItem(d, kIdProgress), PBM_GETPOS, 0, 0, progress)) {
    reply_error("busy");
    return 1;
  }
  auto enabled = [&](int id) { return IsWindowEnabled(GetDlgItem(d, id)) ? "true" : "false"; };
  RECT r{};
  GetWindowRect(d, &r);
  std::printf(
      "{\"ok\":true,\"ports\":%s,\"port_sel\":%d,\"port_text\":%s,\"speeds\":%s,\"speed_sel\":%d,"
      "\"version\":%s,\"start_text\":%s,\"progress\":%d,\"enabled\":{\"port\":%s,\"speed\":%s,"
      "\"start\":%s,\"cancel\":%s},\"rect\":[%ld,%ld,%ld,%ld],\"log\":%s}\n",
      json_list(ports).c_str(), static_cast<int>(port_sel), json(port_text).c_str(), json_list(speeds).c_str(),
      static_cast<int>(speed_sel), json(version).c_str(), json(start_text).c_str(), static_cast<int>(progress),
      enabled(kIdPort), enabled(kIdSpeed), enabled(kIdStart), enabled(kIdCancel), r.left, r.top, r.right, r.bottom,
      json_list(lines).c_str());
  return 0;
}

int cmd_log(HWND d) {
  std::vector<std::wstring> lines;
  if (!read_log(d, lines)) {
    reply_error("busy");
    return 1;
  }
  std::printf("{\"ok\":true,\"log\":%s}\n", json_list(lines).c_str());
  return 0;
}

int select_entry(HWND combo, const std::wstring& want, bool may_type) {
  std::vector<std::wstring> entries;
  if (!items(combo, true, entries)) {
    reply_error("busy");
    return 1;
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i] == want) {
      DWORD_PTR r = 0;
      if (!send(combo, CB_SETCURSEL, i, 0, r)) break;
      std::printf("{\"ok\":true,\"index\":%d}\n", static_cast<int>(i));
      return 0;
    }
  }
  if (may_type) {
    DWORD_PTR r = 0;
    if (send(combo, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(want.c_str()), r)) {
      std::printf("{\"ok\":true,\"index\":-1}\n");
      return 0;
    }
  }
  reply_error("no such entry");
  return 1;
}

int cmd_press(HWND d, const std::string& which) {
  int id = which == "START" || which == "STOP" ? kIdStart : which == "CANCEL" ? kIdCancel : -1;
  if (id < 0) {
    reply_error("unknown button");
    return 2;
  }
  if (!PostMessageW(GetDlgItem(d, id), BM_CLICK, 0, 0)) {
    reply_error("post failed");
    return 1;
  }
  std::printf("{\"ok\":true}\n");
  return 0;
}

int cmd_errorbox(HWND box) {
  std::wstring caption, text;
  if (!text_of(box, caption) || !text_of(GetDlgItem(box, kIdMessageText), text)) {
    reply_error("busy");
    return 1;
  }
  std::printf("{\"ok\":true,\"caption\":%s,\"text\":%s}\n", json(caption).c_str(), json(text).c_str());
  return 0;
}

// Each setting as {"profile": value or null, "user": value or null}.
int cmd_settings() {
  std::string out = "{\"ok\":true";
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
    out += ",\"" + narrow(name) + "\":{\"profile\":" +
           (std::wcscmp(profile, L"\x1f") == 0 ? std::string("null") : json(profile)) +
           ",\"user\":" + (have_user ? json(user) : std::string("null")) + "}";
  }
  if (key) RegCloseKey(key);
  std::printf("%s}\n", out.c_str());
  return 0;
}

int cmd_reset_settings() {
  WriteProfileStringW(kSettingsSection, nullptr, nullptr);  // removes the whole section
  LONG rc = RegDeleteKeyW(HKEY_CURRENT_USER, kUserKeyPath);
  if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
    reply_error("cannot delete the per-user settings");
    return 1;
  }
  std::printf("{\"ok\":true}\n");
  return 0;
}

// Lines from index `from` on; `count` is the list's whole length.
bool read_log_from(HWND dialog, DWORD_PTR from, DWORD_PTR& count, std::vector<std::wstring>& lines) {
  HWND list = GetDlgItem(dialog, kIdLog);
  if (!send(list, LB_GETCOUNT, 0, 0, count)) return false;
  lines.clear();
  for (DWORD_PTR i = from; i < count; ++i) {
    DWORD_PTR len = 0;
    if (!send(list, LB_GETTEXTLEN, i, 0, len)) return false;
    std::vector<wchar_t> buf(len + 2, L'\0');
    DWORD_PTR got = 0;
    if (!send(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(buf.data()), got)) return false;
    lines.emplace_back(buf.data());
  }
  return true;
}

int cmd_controls(HWND d) {
  std::wstring start_text;
  DWORD_PTR progress = 0;
  if (!text_of(GetDlgItem(d, kIdStart), start_text) ||
      !send(GetDlgItem(d, kIdProgress), PBM_GETPOS, 0, 0, progress)) {
    reply_error("busy");
    return 1;
  }
  auto enabled = [&](int id) { return IsWindowEnabled(GetDlgItem(d, id)) ? "true" : "false"; };
  std::printf("{\"ok\":true,\"start_text\":%s,\"progress\":%d,\"enabled\":{\"port\":%s,\"speed\":%s,"
              "\"start\":%s,\"cancel\":%s}}\n",
              json(start_text).c_str(), static_cast<int>(progress), enabled(kIdPort), enabled(kIdSpeed),
              enabled(kIdStart), enabled(kIdCancel));
  return 0;
}

// GDI objects in the program's GDI handle table, which the process environment block points
// at; an entry with a type is a live object. Wine keeps such a table per process, with entries
// of a fixed 24-byte layout (object pointer, owner, unique value, type, flags, user pointer)
// whatever the bitness. -1 when the table cannot be found or read.
constexpr std::size_t kGdiTableEntries = 0x10000;
constexpr std::size_t kGdiEntrySize = 24;
constexpr std::size_t kGdiEntryTypeOffset = 14;
#ifdef _WIN64
constexpr std::size_t kPebGdiTableOffset = 0xF8;
#else
constexpr std::size_t kPebGdiTableOffset = 0x94;
#endif

long gdi_table_count(HANDLE process) {
  using QueryFn = LONG(WINAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
  PROCESS_BASIC_INFORMATION info{};
  ULONG len = 0;
  if (!query || query(process, ProcessBasicInformation, &info, sizeof info, &len) != 0 || !info.PebBaseAddress)
    return -1;
  void* table = nullptr;
  SIZE_T got = 0;
  if (!ReadProcessMemory(process, reinterpret_cast<const char*>(info.PebBaseAddress) + kPebGdiTableOffset, &table,
                         sizeof table, &got) ||
      got != sizeof table || table == nullptr)
    return -1;
  std::vector<unsigned char> entries(kGdiTableEntries * kGdiEntrySize);
  if (!ReadProcessMemory(process, table, entries.data(), entries.size(), &got) || got != entries.size()) return -1;
  long live = 0;
  for (std::size_t i = 0; i < kGdiTableEntries; ++i)
    if (entries[i * kGdiEntrySize + kGdiEntryTypeOffset] != 0) ++live;
  return live;
}

// Handles the process holds as the system's handle list gives them (in Wine, the server's own
// table); -1 when the list cannot be had.
struct SystemHandleEntry {
  ULONG owner_pid;
  BYTE object_type;
  BYTE flags;
  USHORT value;
  PVOID object;
  ULONG access;
};

struct SystemHandleList {
  ULONG count;
  SystemHandleEntry entries[1];
};

constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

long system_handle_count(DWORD pid) {
  using QueryFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return -1;
  std::vector<unsigned char> buf(1 << 16);
  for (int tries = 0; tries < 8; ++tries) {
    ULONG need = 0;
    const LONG status = query(kSystemHandleInformation, buf.data(), static_cast<ULONG>(buf.size()), &need);
    if (status == kStatusInfoLengthMismatch) {
      buf.resize(need > buf.size() ? need + 4096 : buf.size() * 2);
      continue;
    }
    if (status != 0) return -1;
    ULONG count = 0;
    std::memcpy(&count, buf.data(), sizeof count);
    const std::size_t first = offsetof(SystemHandleList, entries);
    if (first + static_cast<std::size_t>(count) * sizeof(SystemHandleEntry) > buf.size()) return -1;
    long mine = 0;
    for (ULONG i = 0; i < count; ++i) {
      SystemHandleEntry e;
      std::memcpy(&e, buf.data() + first + i * sizeof e, sizeof e);
      if (e.owner_pid == pid) ++mine;
    }
    return mine;
  }
  return -1;
}

BOOL CALLBACK count_child(HWND, LPARAM lp) {
  ++*reinterpret_cast<long*>(lp);
  return TRUE;
}

struct WindowCount {
  DWORD pid;
  long count;
};

BOOL CALLBACK count_program_windows(HWND w, LPARAM lp) {
  auto* c = reinterpret_cast<WindowCount*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid != c->pid) return TRUE;
  ++c->count;
  EnumChildWindows(w, count_child, reinterpret_cast<LPARAM>(&c->count));
  return TRUE;
}

int cmd_resources() {
  if (!g_process) top_windows();
  if (!g_process) {
    reply_error("program never seen");
    return 1;
  }
  const DWORD pid = GetProcessId(g_process);
  HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!p) {
    reply_error("cannot open the program's process");
    return 1;
  }
  DWORD handles = 0;
  SetLastError(0);
  const bool have_handles = GetProcessHandleCount(p, &handles) != 0;
  const DWORD handles_error = have_handles ? 0 : GetLastError();
  SetLastError(0);
  const DWORD user = GetGuiResources(p, GR_USEROBJECTS);
  const DWORD user_error = GetLastError();
  SetLastError(0);
  const DWORD gdi = GetGuiResources(p, GR_GDIOBJECTS);
  const DWORD gdi_error = GetLastError();
  const long table = gdi_table_count(p);
  CloseHandle(p);
  const long server_handles = system_handle_count(pid);
  WindowCount windows{pid, 0};
  EnumWindows(count_program_windows, reinterpret_cast<LPARAM>(&windows));
  std::printf("{\"ok\":true,\"pid\":%lu,\"handles\":%lu,\"handles_ok\":%s,\"handles_error\":%lu,"
              "\"gui_user\":%lu,\"gui_user_error\":%lu,\"gui_gdi\":%lu,\"gui_gdi_error\":%lu,"
              "\"gdi_table\":%ld,\"system_handles\":%ld,\"windows\":%ld}\n",
              static_cast<unsigned long>(pid), static_cast<unsigned long>(handles), have_handles ? "true" : "false",
              static_cast<unsigned long>(handles_error), static_cast<unsigned long>(user),
              static_cast<unsigned long>(user_error), static_cast<unsigned long>(gdi),
              static_cast<unsigned long>(gdi_error), table, server_handles, windows.count);
  return 0;
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

int run(const std::vector<std::string>& a) {
  if (a.empty()) {
    reply_error("no command");
    return 2;
  }
  const std::string& cmd = a[0];
  auto arg = [&](size_t i) -> std::string { return i < a.size() ? a[i] : std::string(); };
  auto secs = [&](size_t i) { return i < a.size() ? std::atof(a[i].c_str()) : 10.0; };

  if (cmd == "windows") {
    std::string list = "[";
    EnumWindows(list_one, reinterpret_cast<LPARAM>(&list));
    std::printf("{\"ok\":true,\"windows\":%s]}\n", list.c_str());
    return 0;
  }
  if (cmd == "settings") return cmd_settings();
  if (cmd == "resources") return cmd_resources();
  if (cmd == "reset-settings") return cmd_reset_settings();
  if (cmd == "wait-exit") {
    if (!g_process) top_windows();
    if (!g_process) {
      reply_error("program never seen");
      return 1;
    }
    DWORD code = 0;
    if (WaitForSingleObject(g_process, static_cast<DWORD>(secs(1) * 1000)) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(g_process, &code)) {
      reply_error("still running");
      return 1;
    }
    std::printf("{\"ok\":true,\"exit_code\":%lu}\n", static_cast<unsigned long>(code));
    return 0;
  }
  if (cmd == "wait-gone") {
    if (wait_for(secs(1), [] { return top_windows().count == 0; })) {
      std::printf("{\"ok\":true}\n");
      return 0;
    }
    reply_error("still there");
    return 1;
  }
  if (cmd == "errorbox" || cmd == "wait-errorbox" || cmd == "dismiss-errorbox") {
    HWND box = nullptr;
    wait_for(cmd == "wait-errorbox" ? secs(1) : 0, [&] { return (box = top_windows().errorbox) != nullptr; });
    if (!box) {
      reply_error("no error box");
      return 1;
    }
    if (cmd == "dismiss-errorbox") {
      if (!PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0)) {
        reply_error("post failed");
        return 1;
      }
      std::printf("{\"ok\":true}\n");
      return 0;
    }
    return cmd_errorbox(box);
  }

  HWND d = nullptr;
  double dialog_wait = cmd == "wait-dialog" ? secs(1) : 0;
  wait_for(dialog_wait, [&] { return (d = top_windows().dialog) != nullptr; });
  if (!d) {
    reply_error("no dialog");
    return 1;
  }
  if (cmd == "wait-dialog") {
    std::printf("{\"ok\":true}\n");
    return 0;
  }
  if (cmd == "state") return cmd_state(d);
  if (cmd == "log") return cmd_log(d);
  if (cmd == "controls") return cmd_controls(d);
  if (cmd == "log-from" || cmd == "wait-log-from") {
    const DWORD_PTR from = static_cast<DWORD_PTR>(std::strtoul(arg(1).c_str(), nullptr, 10));
    const std::wstring want = widen(arg(2).c_str());
    DWORD_PTR count = 0;
    std::vector<std::wstring> lines;
    const bool waiting = cmd == "wait-log-from";
    bool found = wait_for(waiting ? secs(3) : 0, [&] {
      if (!IsWindow(d) || !read_log_from(d, from, count, lines)) return false;
      if (!waiting) return true;
      for (const auto& l : lines)
        if (log_text(l) == want) return true;
      return false;
    });
    std::printf("{\"ok\":%s,\"count\":%lu,\"log\":%s}\n", found ? "true" : "false",
                static_cast<unsigned long>(count), json_list(lines).c_str());
    return found ? 0 : 1;
  }
  if (cmd == "set-port") return select_entry(GetDlgItem(d, kIdPort), widen(arg(1).c_str()), true);
  if (cmd == "set-speed") return select_entry(GetDlgItem(d, kIdSpeed), widen(arg(1).c_str()), false);
  if (cmd == "press") return cmd_press(d, arg(1));
  if (cmd == "command") {
    if (!PostMessageW(d, WM_COMMAND, MAKEWPARAM(std::atoi(arg(1).c_str()), BN_CLICKED), 0)) {
      reply_error("post failed");
      return 1;
    }
    std::printf("{\"ok\":true}\n");
    return 0;
  }
  if (cmd == "wait-log") {
    std::wstring want = widen(arg(1).c_str());
    std::vector<std::wstring> lines;
    bool found = wait_for(secs(2), [&] {
      if (!IsWindow(d) || !read_log(d, lines)) return false;
      for (const auto& l : lines)
        if (log_text(l) == want) return true;
      return false;
    });
    std::printf("{\"ok\":%s,\"log\":%s}\n", found ? "true" : "false", json_list(lines).c_str());
    return found ? 0 : 1;
  }
  if (cmd == "wait-idle") {
    bool idle = wait_for(secs(1), [&] {
      std::wstring t;
      return IsWindow(d) && text_of(GetDlgItem(d, kIdStart), t) && t == L"START" &&
             IsWindowEnabled(GetDlgItem(d, kIdCancel));
    });
    if (idle) {
      std::printf("{\"ok\":true}\n");
      return 0;
    }
    reply_error("still running");
    return 1;
  }
  reply_error("unknown command");
  return 2;
}

BOOL CALLBACK note_program_window(HWND w, LPARAM lp) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (!is_program_process(pid)) return TRUE;
  *reinterpret_cast<bool*>(lp) = true;
  return FALSE;
}

// Moves this thread into the desktop that the harness started the program in, once the
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
  std::printf("{\"ok\":true,\"ready\":true}\n");
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
    reply_error("the program did not show up");
    return 1;
  }
  HWND d = nullptr;
  DWORD_PTR len = 0;
  while (GetTickCount() - start <= limit) {
    d = top_windows().dialog;
    if (d && SendMessageTimeoutW(d, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &len)) {
      std::printf("{\"ok\":true}\n");
      std::fflush(stdout);
      PostMessageW(d, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      return 0;
    }
    Sleep(kStartPollMs);
  }
  reply_error("no dialog");
  return 1;
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
    g_exe_suffix = lower(widen(args[1].c_str()));
    args.erase(args.begin(), args.begin() + 2);
  }
  if (g_exe_suffix.empty()) {
    std::fputs("usage: zorven-driver --exe PATH-SUFFIX (serve | COMMAND [ARGS...])\n", stderr);
    return 2;
  }
  if (!desktop.empty() && !args.empty() && args[0] == "time-start")
    return time_start(widen(desktop.c_str()), args.size() > 1 ? std::atof(args[1].c_str()) : 60.0);
  if (!desktop.empty() && !enter_desktop(widen(desktop.c_str()))) {
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
