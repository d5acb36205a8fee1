#include "ui/dialog_win32.h"

#include <commctrl.h>

#include <cstdint>
#include <ctime>

#include "package/package.h"
#include "package/protocol_constants.h"
#include "serial/discovery.h"
#include "serial/port.h"
#include "ui/dialog_observer.h"
#include "ui/dialog_ops.h"
#include "ui/dialog_text.h"
#include "ui/platform_win32.h"
#include "ui/progress_shown.h"
#include "ui/resource.h"
#include "ui/run_win32.h"
#include "ui/settings_win32.h"
#include "update/run.h"
#include "update/operator_text.h"
#include "update/production_log.h"

namespace ui {

namespace {

constexpr char kStartText[] = "START";
constexpr char kStopText[] = "STOP";
// Error boxes carry no caption of their own; the platform supplies its default.
constexpr UINT kErrorBoxStyle = MB_OK | MB_ICONERROR;

constexpr INT_PTR kResultClosed = 0;  // Cancel
constexpr INT_PTR kResultFatal = 1;   // empty package, or the port could not be opened

// The values the update run shares with this dialog: the run-active flag, the stop request, the
// reply timeout and the text buffer.
update::RunState g_state;

// True while the START handler is inside run_update. The run-active flag alone cannot tell: a
// STOP or Cancel clears it while the run is still unwinding, and a START taken then would start
// a second run nested inside the first.
bool g_inside_run = false;

std::uint8_t g_presence[serial::kPresenceSize];

int clamp_int(std::size_t n) { return n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(n); }

class DialogOpsWin32 final : public DialogOps {
 public:
  void attach(HWND dialog) { dialog_ = dialog; }

  void add_log_line(const char* text) override {
    std::time_t now = std::time(nullptr);
    // The C runtime keeps the result of localtime per thread; this program has one thread.
    const std::tm* local = std::localtime(&now);
    // A buffer of its own: callers may pass text that lives in the shared text buffer.
    char line[update::kLogLineSize];
    if (local != nullptr) {
      update::format_log_line(*local, text, line, sizeof line);
    } else {
      update::log_line_text("", text, line, sizeof line);  // no time to be had: the text alone
    }
    LRESULT index = SendDlgItemMessageA(dialog_, IDC_LOG, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    // The updater never selects a line; on the multiple-selection list this keeps the operator's
    // own selection as it is.
    SendDlgItemMessageA(dialog_, IDC_LOG, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    // Moving the caret to the new line scrolls it fully into view.
    SendDlgItemMessageA(dialog_, IDC_LOG, LB_SETCARETINDEX, static_cast<WPARAM>(index), FALSE);
  }

  // The run keeps the thread busy, so each control is repainted at once after its change.
  void set_controls_enabled(bool enabled) override {
    static constexpr int kControls[] = {IDC_PORT, IDC_SPEED, IDCANCEL};
    for (int id : kControls) {
      HWND control = GetDlgItem(dialog_, id);
      EnableWindow(control, enabled ? TRUE : FALSE);
      UpdateWindow(control);
    }
    SetDlgItemTextA(dialog_, IDOK, enabled ? kStartText : kStopText);
  }

  void set_progress(std::uint32_t position) override {
    if (progress_.change_to(position))
      SendDlgItemMessageA(dialog_, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
  }

  void repaint_log() override { UpdateWindow(GetDlgItem(dialog_, IDC_LOG)); }

  void error_box(const char* text) override { MessageBoxA(dialog_, text, nullptr, kErrorBoxStyle); }

  void* focus() override { return GetFocus(); }

  void set_focus(void* window) override { SetFocus(static_cast<HWND>(window)); }

 private:
  HWND dialog_ = nullptr;
  ShownProgress progress_;
};

DialogOpsWin32 g_ops;
DialogObserver g_observer{g_ops};

// Selects the first entry whose whole text equals `text` without regard to case, else entry 0.
void select_entry(HWND dialog, int combo, const char* text) {
  LRESULT found = SendDlgItemMessageA(dialog, combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                      reinterpret_cast<LPARAM>(text));
  if (found == CB_ERR) found = 0;
  SendDlgItemMessageA(dialog, combo, CB_SETCURSEL, static_cast<WPARAM>(found), 0);
}

void add_entry(HWND dialog, int combo, const char* text) {
  SendDlgItemMessageA(dialog, combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

void fill_port_list(HWND dialog) {
  unsigned numbers[serial::kMaxPortEntries];
  std::size_t n = serial::port_numbers(serial::discover_ports(g_presence), g_presence, numbers);
  char entry[serial::kPortEntrySize];
  for (std::size_t i = 0; i < n; ++i) {
    serial::port_entry_text(numbers[i], entry, sizeof entry);
    add_entry(dialog, IDC_PORT, entry);
  }
  // Port setup takes names of this length at most; a longer typed name could never be opened.
  SendDlgItemMessageA(dialog, IDC_PORT, CB_LIMITTEXT, static_cast<WPARAM>(serial::kMaxPortNameLength), 0);
  read_setting(windows_settings_store(), kPortKey, kDefaultPort, g_state.text, sizeof g_state.text);
  select_entry(dialog, IDC_PORT, g_state.text);
}

void fill_speed_list(HWND dialog) {
  char entry[kEntryTextSize];
  for (std::size_t i = 0; i < package::kSpeedCount; ++i) {
    speed_entry_text(package::kSpeeds[i], entry, sizeof entry);
    add_entry(dialog, IDC_SPEED, entry);
  }
  read_setting(windows_settings_store(), kSpeedKey, kDefaultSpeedText, g_state.text, sizeof g_state.text);
  select_entry(dialog, IDC_SPEED, g_state.text);
}

void on_init(HWND dialog) {
  g_ops.attach(dialog);
  fill_port_list(dialog);
  fill_speed_list(dialog);
  SetDlgItemTextA(dialog, IDC_VERSION, version_field_text(package::version_text(package::embedded())));
}

// The port combo's text, whether picked from the list or typed, into the text buffer.
const char* read_port_text(HWND dialog) {
  g_state.text[0] = '\0';
  GetDlgItemTextA(dialog, IDC_PORT, g_state.text, clamp_int(sizeof g_state.text));
  return g_state.text;
}

// The speed table's entry at the speed combo's selected index; 9600 with no selection.
std::uint32_t chosen_speed(HWND dialog) {
  return speed_at(static_cast<int>(SendDlgItemMessageA(dialog, IDC_SPEED, CB_GETCURSEL, 0, 0)));
}

void save_settings(HWND dialog) {
  write_setting(windows_settings_store(), kPortKey, read_port_text(dialog));

  char speed[kEntryTextSize];
  speed_setting_text(chosen_speed(dialog), speed, sizeof speed);
  write_setting(windows_settings_store(), kSpeedKey, speed);
}

void on_start(HWND dialog) {
  // While a run is under way the button means STOP, also after an earlier STOP or Cancel has
  // already cleared the run-active flag: there is only ever one run.
  if (g_inside_run) {
    update::request_stop(g_state);
    return;
  }
  const package::Record& pkg = package::embedded();
  if (!package::is_present(pkg)) {
    MessageBoxA(dialog, update::kNoPackageText, nullptr, kErrorBoxStyle);
    EndDialog(dialog, kResultFatal);
    return;
  }
  save_settings(dialog);
  // The port name stays in the text buffer until the run has opened the port.
  const update::RunRequest request{read_port_text(dialog), chosen_speed(dialog), update::kProductionLogFile};
  g_inside_run = true;
  const update::RunResult result = run_update_from_dialog(request, g_observer, windows_platform(), g_state, pkg);
  g_observer.run_over(result);  // its error box is shown while START still means STOP
  g_inside_run = false;
  if (result.outcome == update::Outcome::kPortNotOpened) EndDialog(dialog, kResultFatal);
}

// The run, if one is under way, stops before its next block; the dialog closes once the run has
// returned to the dialog's own message loop.
void on_cancel(HWND dialog) {
  update::request_cancel(g_state);
  EndDialog(dialog, kResultClosed);
}

}  // namespace

INT_PTR CALLBACK update_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      on_init(dialog);
      return TRUE;  // the platform gives the focus to the first tab stop, the port combo
    case WM_COMMAND:
      // Only the control matters, so Enter and Esc reach the same handlers as the buttons.
      switch (LOWORD(wparam)) {
        case IDOK:
          on_start(dialog);
          return TRUE;
        case IDCANCEL:
          on_cancel(dialog);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

}  // namespace ui
