// What zorven-cli reads of a USB serial adapter on Windows.
#pragma once

#include <windows.h>

#include <cstdint>

namespace cli {

// The latency timer (ms) of the FTDI adapter behind the COM port `port` ("COM3" or "\\.\COM3"):
// the driver keeps it as the LatencyTimer value in the "Device Parameters" key of the device
// instance whose PortName is that port, under `bus_key` of `root` (the system's is
// HKEY_LOCAL_MACHINE, "SYSTEM\CurrentControlSet\Enum\FTDIBUS"). Read only. -1 when no such
// device or value is found.
std::int32_t ftdi_latency_timer(HKEY root, const char* bus_key, const char* port);

}  // namespace cli
