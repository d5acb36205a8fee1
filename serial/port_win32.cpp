// The Windows port: each request is one synchronous ReadFile or WriteFile. The port time-outs set
// by open_port decide how long a request may wait.
#include "serial/port_win32.h"

namespace serial {

bool Win32Port::read(void* dst, std::uint32_t want, std::uint32_t& got) {
  DWORD n = 0;
  const BOOL ok = ::ReadFile(handle_, dst, want, &n, nullptr);
  got = ok ? n : 0;
  return ok != FALSE;
}

bool Win32Port::write(const void* src, std::uint32_t n, std::uint32_t& written) {
  DWORD w = 0;
  const BOOL ok = ::WriteFile(handle_, src, n, &w, nullptr);
  written = w;
  return ok != FALSE;
}

std::uint32_t Win32Port::queued() {
  // The status record starts zeroed, so a failed query reports nothing waiting. The call also
  // clears any error condition pending on the port, which would otherwise block further I/O.
  COMSTAT status{};
  DWORD errors = 0;
  (void)::ClearCommError(handle_, &errors, &status);
  return status.cbInQue;
}

void Win32Port::close() {
  if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

}  // namespace serial
