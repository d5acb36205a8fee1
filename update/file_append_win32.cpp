// Appending on Windows: an append-only handle puts every write at the current end of the file.
// Write sharing is granted so that updaters in other processes can hold the same file open at
// the same moment; read sharing is not.
//
// An append-only handle alone does not keep concurrent appends apart everywhere the program runs:
// Wine finds the end of the file and writes there as two steps, so two updaters finishing at the
// same moment can overwrite each other's line. The open, the write and the close are therefore
// also serialised between updaters by a named mutex. If the mutex cannot be had the line is
// still appended, as it would be without it.
#include <windows.h>

#include "update/file_append.h"

namespace update {

namespace {

constexpr char kAppendMutexName[] = "Local\\Zorven.ProductionLogAppend";
// Held only for one open, write and close; a holder that takes longer is stuck, and the line is
// appended without it rather than lost.
constexpr DWORD kAppendMutexWaitMs = 10000;

bool append_now(const char* name, const char* data, std::size_t n) {
  HANDLE h = CreateFileA(name, FILE_APPEND_DATA, FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  WriteFile(h, data, static_cast<DWORD>(n), &written, nullptr);  // a lost line is not reported
  CloseHandle(h);
  return true;
}

}  // namespace

bool append_file(const char* name, const char* data, std::size_t n) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, kAppendMutexName);
  if (mutex == nullptr) return append_now(name, data, n);
  // WAIT_ABANDONED also hands over ownership: an updater that ended while holding it.
  const DWORD wait = WaitForSingleObject(mutex, kAppendMutexWaitMs);
  const bool owned = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  const bool opened = append_now(name, data, n);
  if (owned) ReleaseMutex(mutex);
  CloseHandle(mutex);
  return opened;
}

LocalTime local_time_now() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return LocalTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

}  // namespace update
