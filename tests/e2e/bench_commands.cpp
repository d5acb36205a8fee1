#include "tests/e2e/bench_commands.h"

#include <cstdio>

#include "tests/e2e/answer.h"
#include "tests/e2e/window_access.h"

namespace driver {

namespace {

// Much finer than the other commands' polls: the wait is the figure measured.
constexpr DWORD kStartPollMs = 2;

}  // namespace

int time_start(const std::wstring& desktop, double secs) {
  reply_ok({{"ready", true}});
  std::fflush(stdout);
  const DWORD start = GetTickCount();
  const DWORD limit = static_cast<DWORD>(secs * 1000);
  HDESK desk = nullptr;
  bool seen = false;
  while (!seen && GetTickCount() - start <= limit) {
    if (!desk) desk = OpenDesktopW(desktop.c_str(), 0, FALSE, GENERIC_ALL);
    if (desk) seen = program_in_desktop(desk);
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

}  // namespace driver
