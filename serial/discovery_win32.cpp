// Port discovery on Windows. NT-family systems list their device names, which is quick and opens
// nothing; older systems have no such listing, so every port number is tried by opening it.
#include <cstdio>
#include <cstring>

#include "serial/discovery.h"
#include "serial/port_win32.h"

namespace serial {

namespace {

constexpr DWORD kVersionRecordSize = 148;     // OSVERSIONINFOA
constexpr DWORD kPlatformNt = 2;              // VER_PLATFORM_WIN32_NT
constexpr std::size_t kListingAreaSize = 65536;
constexpr DWORD kListingUsable = 65535;       // the listing call may use all but the last byte
constexpr int kFirstProbedPort = 1;
constexpr int kLastProbedPort = 255;
constexpr std::size_t kProbePathSize = 12;    // "\\.\COM255" and its terminator fit

// The listing is large and discovery runs once per dialog, on one thread: static, not on the
// stack.
char g_listing[kListingAreaSize];

std::int32_t discover_by_listing(const Win32Api& api, std::uint8_t* presence) {
  const DWORD size = api.query_dos_device(nullptr, g_listing, kListingUsable);
  // A failed listing (also one too long for the area) finds nothing; probing is not tried.
  if (size == 0) return 0;
  return parse_device_listing(g_listing, size < kListingUsable ? size : kListingUsable, presence);
}

std::int32_t discover_by_probing(const Win32Api& api, std::uint8_t* presence) {
  std::int32_t count = 0;
  for (int port = kFirstProbedPort; port <= kLastProbedPort; ++port) {
    char path[kProbePathSize];
    std::snprintf(path, sizeof path, "%sCOM%d", kDevicePathPrefix, port);
    HANDLE h = api.create_file(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                               nullptr);
    bool present = false;
    if (h != INVALID_HANDLE_VALUE) {
      api.close_handle(h);
      present = true;
    } else {
      // Held by another program: there all the same.
      present = api.last_error() == ERROR_ACCESS_DENIED;
    }
    if (present) {
      ++count;
      presence[port] = 1;
    }
  }
  return count;
}

}  // namespace

std::int32_t discover_ports(std::uint8_t* presence) { return discover_ports(system_api(), presence); }

std::int32_t discover_ports(const Win32Api& api, std::uint8_t* presence) {
  std::memset(presence, 0, kPresenceSize);
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = kVersionRecordSize;
  if (api.get_version(&version) && version.dwPlatformId == kPlatformNt) {
    return discover_by_listing(api, presence);
  }
  return discover_by_probing(api, presence);
}

}  // namespace serial
