// The program's entry point and frame: a main window that is never used for work (it starts
// minimized), the update dialog opened at once through a command the window posts to itself,
// a menu with Exit and About, and the About box. The program ends when the update dialog closes.
#include <windows.h>

#include <commctrl.h>

#include "ui/dialog_win32.h"
#include "ui/resource.h"

namespace ui {

namespace {

constexpr int kMaxLoadString = 100;  // title and class name, with terminator
constexpr int kExitCode = 0;         // the program always exits with 0

HINSTANCE g_instance = nullptr;
char g_title[kMaxLoadString];
char g_class_name[kMaxLoadString];

INT_PTR CALLBACK about_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      // OK, or Esc and the close box, which the platform sends as IDCANCEL.
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wparam));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

LRESULT on_command(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (LOWORD(wparam)) {
    case IDM_ABOUT:
      DialogBoxParamA(g_instance, MAKEINTRESOURCEA(IDD_ABOUTBOX), window, about_proc, 0);
      return 0;
    case IDM_EXIT:
      DestroyWindow(window);
      return 0;
    case IDM_OPEN_UPDATE_DIALOG:
      // 0 or 1: the dialog ran and ended, and with it the program. -1: it could not be created;
      // the main window stays so that the program can still be ended from its menu.
      if (DialogBoxParamA(g_instance, MAKEINTRESOURCEA(IDD_UPDATE), window, update_dialog_proc, 0) >= 0) {
        DestroyWindow(window);
      }
      return 0;
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      return on_command(window, message, wparam, lparam);
    case WM_PAINT: {
      // Nothing to draw: the class background fills the window.
      PAINTSTRUCT ps;
      BeginPaint(window, &ps);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(kExitCode);
      return 0;
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}

void register_main_class(HINSTANCE instance) {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = main_window_proc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_ZORVEN));
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszMenuName = MAKEINTRESOURCEA(IDR_MAINMENU);
  wc.lpszClassName = g_class_name;
  wc.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_ZORVEN));
  // A failed registration shows up as a failed window creation.
  RegisterClassExA(&wc);
}

}  // namespace

int run_program(HINSTANCE instance) {
  // Makes the progress bar class of the update dialog available.
  InitCommonControls();
  LoadStringA(instance, IDS_APP_TITLE, g_title, kMaxLoadString);
  LoadStringA(instance, IDS_WINDOW_CLASS, g_class_name, kMaxLoadString);
  register_main_class(instance);
  g_instance = instance;

  HWND window = CreateWindowExA(0, g_class_name, g_title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0,
                                nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return kExitCode;

  // The main window is only a frame for the dialog: minimized, whatever the start-up request.
  ShowWindow(window, SW_SHOWMINIMIZED);
  UpdateWindow(window);

  // The update dialog opens from inside the message loop, with its first message.
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDM_OPEN_UPDATE_DIALOG, 0), 0);

  HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_ACCELERATORS));
  MSG msg;
  // GetMessageA gives 0 for the quit message and -1 on failure; both end the loop.
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (!TranslateAcceleratorA(msg.hwnd, accelerators, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  return kExitCode;
}

}  // namespace ui

// The previous-instance handle, the command line and the start-up show command are not used.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return ui::run_program(instance); }
