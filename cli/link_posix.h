// What zorven-cli asks of and reads from a USB serial adapter on Linux.
#pragma once

#include <cstdint>
#include <string>

namespace cli {

// Asks the serial driver of the open port `fd` for low latency (for ftdi_sio this sets the
// adapter's latency timer to 1 ms). true when the driver has it set afterwards; a driver without
// the request, or one that refuses it, changes nothing.
bool request_low_latency(int fd);

// The latency timer (ms) of the USB serial adapter behind the device `name` (a /dev path or a
// link to one, such as a by-id name), read from sysfs under `root` ("" for the running system).
// -1 where the device shows none (a pty, a UART, a driver without the setting).
std::int32_t sysfs_latency_timer(const std::string& root, const char* name);
// The same for the kernel's tty `tty` (ttyUSB0).
std::int32_t tty_latency_timer(const std::string& root, const std::string& tty);

}  // namespace cli
