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

#include <cstdio>

#include "update/file_append.h"

namespace update {

namespace {

constexpr char kAppendMutexName[] = "Local\\Zorven.ProductionLogAppend";
// Held only for one open, write and close; a holder that takes longer is stuck, and the line is
// appended without it rather than lost.
constexpr DWORD kAppendMutexWaitMs = 10000;

void reason_words(DWORD error, char* why, std::size_t cap) {
  if (cap == 0) return;
  switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      std::snprintf(why, cap, "the file is in use by another program");
      return;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
      std::snprintf(why, cap, "its folder does not exist");
      return;
    case ERROR_ACCESS_DENIED:
      std::snprintf(why, cap, "access is denied (a read-only file, a folder, or no permission)");
      return;
    case ERROR_WRITE_PROTECT:
      std::snprintf(why, cap, "the disk is write-protected");
      return;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      std::snprintf(why, cap, "the disk is full");
      return;
    default:
      std::snprintf(why, cap, "system error %lu", static_cast<unsigned long>(error));
      return;
  }
}

HANDLE open_for_append(const char* name) {
  return CreateFileA(name, FILE_APPEND_DATA, FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
}

// One attempt: 0 when the whole line is in the file, else the error; `partial` when part of the
// line went in, which a second attempt would only repeat.
DWORD append_now(const char* name, const char* data, std::size_t n, bool durable, bool& partial) {
  HANDLE h = open_for_append(name);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD written = 0;
  DWORD error = 0;
  if (!WriteFile(h, data, static_cast<DWORD>(n), &written, nullptr)) error = GetLastError();
  if (error == 0 && written != n) error = ERROR_DISK_FULL;
  partial = error != 0 && written > 0;
  if (error == 0 && durable && !FlushFileBuffers(h)) error = GetLastError();
  CloseHandle(h);
  return error;
}

DWORD append_serialised(const char* name, const char* data, std::size_t n, bool durable, bool& partial) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, kAppendMutexName);
  if (mutex == nullptr) return append_now(name, data, n, durable, partial);
  // WAIT_ABANDONED also hands over ownership: an updater that ended while holding it.
  const DWORD wait = WaitForSingleObject(mutex, kAppendMutexWaitMs);
  const bool owned = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  const DWORD error = append_now(name, data, n, durable, partial);
  if (owned) ReleaseMutex(mutex);
  CloseHandle(mutex);
  return error;
}

}  // namespace

namespace platform_append {

long append_once(const char* name, const char* data, std::size_t n, bool durable, bool& partial) {
  return static_cast<long>(append_serialised(name, data, n, durable, partial));
}

void reason_text(long error, char* why, std::size_t cap) { reason_words(static_cast<DWORD>(error), why, cap); }

void pause_ms(int ms) { Sleep(static_cast<DWORD>(ms)); }

}  // namespace platform_append

bool can_append(const char* name, char* why, std::size_t why_cap) {
  HANDLE h = open_for_append(name);
  if (h == INVALID_HANDLE_VALUE) {
    reason_words(GetLastError(), why, why_cap);
    return false;
  }
  CloseHandle(h);
  return true;
}

LocalTime local_time_now() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return LocalTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

}  // namespace update
