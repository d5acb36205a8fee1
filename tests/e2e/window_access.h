// Reaching the program from outside: finding its process and its top-level windows (the update
// dialog, a message box) by the path of its executable, entering the desktop it runs in, and
// reading its controls with messages.
//
// Reads go through SendMessageTimeoutW: the program does not service messages while it waits
// for a reply line, and the driver must not hang on it. Texts are read with the W messages,
// which Wine marshals between processes (the A forms hand back UTF-16).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace driver {

constexpr UINT kSendTimeoutMs = 500;
constexpr DWORD kPollMs = 100;
// The static text of a message box.
constexpr int kIdMessageText = 0xFFFF;

// The program is the process whose executable's path ends in `suffix` (any case, either slash).
void set_program(const std::string& suffix);
bool program_named();
// The program's process, opened when its windows were first seen (kept open so that its exit
// code can be read after it has gone); null until then.
HANDLE program_process();
// Looks for the program's windows once if it has not been seen yet; whether it has been.
bool program_seen();

std::wstring widen(const std::string& s);
std::string narrow(const std::wstring& w);
std::wstring class_of(HWND w);

// One message with the driver's time-out; false when the program did not answer in time.
bool send(HWND w, UINT msg, WPARAM wp, LPARAM lp, DWORD_PTR& result);
// Caption of a window of this process or another: WM_GETTEXT is marshalled by Wine.
bool text_of(HWND w, std::wstring& out);

struct TopWindows {
  HWND dialog = nullptr;    // the update dialog
  HWND errorbox = nullptr;  // a message box of the program
  int count = 0;            // every top-level window of the program
};
TopWindows top_windows();

// The entries of a combo box's list.
bool combo_entries(HWND combo, std::vector<std::wstring>& out);
// The log list's lines from index `from` on; `count` is the list's whole length.
bool read_log(HWND dialog, DWORD_PTR from, DWORD_PTR& count, std::vector<std::wstring>& lines);

// Whether the program has a window in `desk`.
bool program_in_desktop(HDESK desk);
// Moves this thread into the desktop that the test started the program in, once the program
// has a window there.
bool enter_desktop(const std::wstring& name);

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

}  // namespace driver
