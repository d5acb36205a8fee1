// The serial port on Windows: a synchronous HANDLE with ReadFile, WriteFile and ClearCommError.
#pragma once

#include <windows.h>

#include <cstdint>

#include "serial/port.h"

namespace serial {

// Device path prefix and the area the path is built in: the prefix, at most kMaxPortNameLength
// characters of name and the terminator.
inline constexpr char kDevicePathPrefix[] = "\\\\.\\";
inline constexpr std::size_t kDevicePathSize = 12;
static_assert(sizeof(kDevicePathPrefix) - 1 + kMaxPortNameLength + 1 == kDevicePathSize);

class Win32Port final : public Port {
 public:
  Win32Port() = default;
  explicit Win32Port(HANDLE h) : handle_(h) {}
  void attach(HANDLE h) { handle_ = h; }
  HANDLE handle() const { return handle_; }

  bool read(void* dst, std::uint32_t want, std::uint32_t& got) override;
  bool write(const void* src, std::uint32_t n, std::uint32_t& written) override;
  std::uint32_t queued() override;
  void close() override;

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// The system calls that opening and discovery make, replaceable so that tests can see the
// arguments (the share mode, the paths tried) and make any call fail.
struct Win32Api {
  decltype(&::CreateFileA) create_file;
  decltype(&::CloseHandle) close_handle;
  decltype(&::GetLastError) last_error;
  decltype(&::GetCommState) get_comm_state;
  decltype(&::SetCommState) set_comm_state;
  decltype(&::GetCommTimeouts) get_comm_timeouts;
  decltype(&::SetCommTimeouts) set_comm_timeouts;
  decltype(&::GetVersionExA) get_version;
  decltype(&::QueryDosDeviceA) query_dos_device;
};

// The real system calls.
const Win32Api& system_api();

// Opens the named port (device path "\\.\<name>" first, then the bare name) exclusively, sets
// the line settings and the fixed request time-outs. INVALID_HANDLE_VALUE when it cannot open,
// and for a name longer than kMaxPortNameLength, which the device path area cannot hold.
HANDLE open_port(const char* name, std::uint32_t speed);
HANDLE open_port(const Win32Api& api, const char* name, std::uint32_t speed);

// Discovery through the given calls (discover_ports of discovery.h uses the system's).
std::int32_t discover_ports(const Win32Api& api, std::uint8_t* presence);

}  // namespace serial
