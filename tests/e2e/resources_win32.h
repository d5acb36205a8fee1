// A program's process as Windows reports it, read from outside: what the soak samples after
// every run to see whether the program keeps handles, USER or GDI objects, or windows.
#pragma once

#include <windows.h>

struct ProcessResources {
  DWORD handles = 0;  // GetProcessHandleCount
  bool handles_ok = false;
  DWORD handles_error = 0;
  DWORD gui_user = 0, gui_user_error = 0;  // GetGuiResources and the error each call left
  DWORD gui_gdi = 0, gui_gdi_error = 0;
  long gdi_table = -1;       // live entries of its GDI handle table; -1: not readable
  long system_handles = -1;  // its handles in the system's handle list; -1: not available
  long windows = 0;          // its windows, children included
};

// False when the process cannot be opened for reading.
bool probe_resources(DWORD pid, ProcessResources& out);
