// Appending on Windows: an append-only handle puts every write at the current end of the file,
// so updaters in other processes sharing the same file never overwrite each other's lines.
// Write sharing is granted so that they can hold it open at the same moment; read sharing is
// not.
#include <windows.h>

#include "update/file_append.h"

namespace update {

bool append_file(const char* name, const char* data, std::size_t n) {
  HANDLE h = CreateFileA(name, FILE_APPEND_DATA, FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  WriteFile(h, data, static_cast<DWORD>(n), &written, nullptr);  // a lost line is not reported
  CloseHandle(h);
  return true;
}

LocalTime local_time_now() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return LocalTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

}  // namespace update
