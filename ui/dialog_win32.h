// The update dialog: port and speed choice, START/STOP, Cancel, the log list and the progress
// bar. The update run executes inside its START handler.
#pragma once

#include <windows.h>

namespace ui {

INT_PTR CALLBACK update_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace ui
