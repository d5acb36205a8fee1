// Opening a port on Windows: exclusively, with 8 data bits, no parity, one stop bit, binary mode
// and no XON/XOFF on sending; every other line setting stays as the port had it. The port
// time-outs are replaced as a whole, so nothing of what the port had survives.
#include <cstdio>
#include <cstring>

#include "serial/port_win32.h"

namespace serial {

namespace {

constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareNone = 0;  // exclusive: no other program can open the port meanwhile
constexpr BYTE kDataBits = 8;

HANDLE open_device(const Win32Api& api, const char* path) {
  return api.create_file(path, kAccess, kShareNone, nullptr, OPEN_EXISTING, 0, nullptr);
}

}  // namespace

const Win32Api& system_api() {
  static const Win32Api api{
      &::CreateFileA,     &::CloseHandle,     &::GetLastError,
      &::GetCommState,    &::SetCommState,    &::GetCommTimeouts,
      &::SetCommTimeouts, &::GetVersionExA,   &::QueryDosDeviceA,
  };
  return api;
}

HANDLE open_port(const char* name, std::uint32_t speed) { return open_port(system_api(), name, speed); }

HANDLE open_port(const Win32Api& api, const char* name, std::uint32_t speed) {
  // A name the device path area cannot hold is refused rather than built somewhere larger: no
  // real port has such a name, and the dialog's field does not allow one.
  if (name == nullptr || std::strlen(name) > kMaxPortNameLength) return INVALID_HANDLE_VALUE;

  char path[kDevicePathSize];
  std::snprintf(path, sizeof path, "%s%s", kDevicePathPrefix, name);

  // The device path reaches every port, also COM10 and above; the bare name is the fallback.
  HANDLE h = open_device(api, path);
  if (h == INVALID_HANDLE_VALUE) h = open_device(api, name);
  if (h == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;

  // Only the fields the line needs change. If the settings cannot be read they are left alone
  // and the port is still used; failures here are not reported.
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (api.get_comm_state(h, &dcb)) {
    dcb.BaudRate = speed;
    dcb.ByteSize = kDataBits;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fParity = 1;  // parity checking on, harmless with no parity bit on the line
    dcb.fOutX = 0;    // the image is binary: XON/XOFF bytes must not pause sending
    (void)api.set_comm_state(h, &dcb);
  }

  COMMTIMEOUTS timeouts{};
  (void)api.get_comm_timeouts(h, &timeouts);
  // The port's fixed request time-outs (serial/port.h), with no per-byte part.
  timeouts.ReadIntervalTimeout = kReadIntervalMs;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = kReadTotalMs;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = kWriteTotalMs;
  (void)api.set_comm_timeouts(h, &timeouts);
  return h;
}

}  // namespace serial
