// The line's set-up on Windows: the latency timer the FTDI driver keeps in the registry for the
// COM port. It is only read: changing it needs an administrator and the adapter's advanced port
// settings.
#include <cstdio>
#include <cstring>

#include "cli/link.h"

namespace cli {

namespace {

// "COM3" of "\\.\COM3" or "COM3".
const char* com_name(const char* port) { return std::strncmp(port, "\\\\.\\", 4) == 0 ? port + 4 : port; }

// The LatencyTimer of `instance`\Device Parameters when its PortName is `com`; -1 otherwise.
std::int32_t instance_timer(HKEY device, const char* instance, const char* com) {
  char path[300];
  std::snprintf(path, sizeof path, "%s\\Device Parameters", instance);
  HKEY params = nullptr;
  if (RegOpenKeyExA(device, path, 0, KEY_READ, &params) != ERROR_SUCCESS) return -1;
  std::int32_t ms = -1;
  char name[64] = {};
  DWORD type = 0;
  DWORD size = sizeof name - 1;
  if (RegQueryValueExA(params, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS &&
      type == REG_SZ && lstrcmpiA(name, com) == 0) {
    DWORD value = 0;
    size = sizeof value;
    if (RegQueryValueExA(params, "LatencyTimer", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD && value <= 255)
      ms = static_cast<std::int32_t>(value);
  }
  RegCloseKey(params);
  return ms;
}

// Looks through the instances of one device (VID_0403+PID_6001+serial) for the port.
std::int32_t device_timer(HKEY bus, const char* device_id, const char* com) {
  HKEY device = nullptr;
  if (RegOpenKeyExA(bus, device_id, 0, KEY_READ, &device) != ERROR_SUCCESS) return -1;
  std::int32_t ms = -1;
  char instance[256];
  for (DWORD i = 0; ms < 0; ++i) {
    DWORD len = sizeof instance;
    const LONG r = RegEnumKeyExA(device, i, instance, &len, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r == ERROR_SUCCESS) ms = instance_timer(device, instance, com);  // a name too long is no instance of ours
  }
  RegCloseKey(device);
  return ms;
}

}  // namespace

std::int32_t ftdi_latency_timer(HKEY root, const char* bus_key, const char* port) {
  HKEY bus = nullptr;
  if (RegOpenKeyExA(root, bus_key, 0, KEY_READ, &bus) != ERROR_SUCCESS) return -1;
  const char* com = com_name(port);
  std::int32_t ms = -1;
  char device_id[256];
  for (DWORD i = 0; ms < 0; ++i) {
    DWORD len = sizeof device_id;
    const LONG r = RegEnumKeyExA(bus, i, device_id, &len, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r == ERROR_SUCCESS) ms = device_timer(bus, device_id, com);
  }
  RegCloseKey(bus);
  return ms;
}

std::string latency_warning(const char* port, const LinkSetup& setup) {
  if (setup.latency_timer_ms <= kLatencyWarnAboveMs) return "";
  char text[512];
  std::snprintf(text, sizeof text,
                "%s: warning: the USB serial adapter's latency timer is %d ms, and every block waits up to that "
                "long for its verdict; lower it to 1 ms in Device Manager: the port's Properties, Port Settings, "
                "Advanced, Latency Timer (msec)",
                port, static_cast<int>(setup.latency_timer_ms));
  return text;
}

}  // namespace cli
