// The line's set-up on Windows: the latency timer the FTDI driver keeps in the registry for the
// COM port. It is only read: changing it needs an administrator and the adapter's advanced port
// settings.
#include <cstdio>
#include <cstring>

#include "cli/link.h"
#include "cli/link_win32.h"

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

// Opens `path` under `parent` and hands each subkey's name to f until f finds a timer (>= 0);
// that timer, or -1. A name too long for the buffer is none of ours and is passed over.
template <typename F>
std::int32_t first_timer_under(HKEY parent, const char* path, F f) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(parent, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return -1;
  std::int32_t ms = -1;
  char name[256];
  for (DWORD i = 0; ms < 0; ++i) {
    DWORD len = sizeof name;
    const LONG r = RegEnumKeyExA(key, i, name, &len, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r == ERROR_SUCCESS) ms = f(key, name);
  }
  RegCloseKey(key);
  return ms;
}

}  // namespace

std::int32_t ftdi_latency_timer(HKEY root, const char* bus_key, const char* port) {
  const char* com = com_name(port);
  // The bus holds a key per device (VID_0403+PID_6001+serial), each a key per instance.
  return first_timer_under(root, bus_key, [com](HKEY bus, const char* device_id) {
    return first_timer_under(bus, device_id,
                             [com](HKEY device, const char* instance) { return instance_timer(device, instance, com); });
  });
}

std::string latency_advice(const char*) {
  return "lower it to 1 ms in Device Manager: the port's Properties, Port Settings, Advanced, Latency Timer (msec)";
}

}  // namespace cli
