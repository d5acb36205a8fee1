#include "tests/e2e/window_access.h"

#include <cwchar>

#include "ui/resource.h"

namespace driver {

namespace {

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

BOOL CALLBACK note_program_window(HWND w, LPARAM lp) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (!is_program_process(pid)) return TRUE;
  *reinterpret_cast<bool*>(lp) = true;
  return FALSE;
}

}  // namespace

void set_program(const std::string& suffix) { g_exe_suffix = lower(widen(suffix)); }

bool program_named() { return !g_exe_suffix.empty(); }

HANDLE program_process() { return g_process; }

bool program_seen() {
  if (!g_process) top_windows();
  return g_process != nullptr;
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

std::wstring class_of(HWND w) {
  wchar_t buf[64] = {};
  GetClassNameW(w, buf, 64);
  return buf;
}

bool send(HWND w, UINT msg, WPARAM wp, LPARAM lp, DWORD_PTR& result) {
  return SendMessageTimeoutW(w, msg, wp, lp, SMTO_NORMAL, kSendTimeoutMs, &result) != 0;
}

bool text_of(HWND w, std::wstring& out) {
  DWORD_PTR len = 0;
  if (!send(w, WM_GETTEXTLENGTH, 0, 0, len)) return false;
  std::vector<wchar_t> buf(len + 2, L'\0');
  DWORD_PTR got = 0;
  if (!send(w, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), got)) return false;
  out.assign(buf.data());
  return true;
}

TopWindows top_windows() {
  TopWindows t;
  EnumWindows(collect, reinterpret_cast<LPARAM>(&t));
  return t;
}

bool combo_entries(HWND combo, std::vector<std::wstring>& out) {
  DWORD_PTR count = 0;
  return entries(combo, kComboBox, 0, count, out);
}

bool read_log(HWND dialog, DWORD_PTR from, DWORD_PTR& count, std::vector<std::wstring>& lines) {
  return entries(GetDlgItem(dialog, IDC_LOG), kListBox, from, count, lines);
}

bool program_in_desktop(HDESK desk) {
  bool seen = false;
  EnumDesktopWindows(desk, note_program_window, reinterpret_cast<LPARAM>(&seen));
  return seen;
}

// The driver starts alongside the program, and a thread that looks at a desktop whose explorer
// has not set it up yet would make Wine start one of its own: so the desktop is entered only
// once the program has a window there.
bool enter_desktop(const std::wstring& name) {
  HDESK desk = nullptr;
  bool seen = false;
  for (int i = 0; i < kDesktopWaitPolls && !seen; ++i) {
    if (!desk) desk = OpenDesktopW(name.c_str(), 0, FALSE, GENERIC_ALL);
    if (desk) seen = program_in_desktop(desk);
    if (!seen) Sleep(kPollMs);
  }
  return seen && SetThreadDesktop(desk);
}

}  // namespace driver
