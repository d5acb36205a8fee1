// The line's set-up on Linux: the serial driver's low-latency flag, and the latency timer a USB
// serial driver (ftdi_sio) shows in sysfs.
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/link.h"
#include "cli/link_posix.h"

namespace cli {

namespace {

// The kernel's name of the device (ttyUSB0) behind `path`, which may be a link to it; "" when
// the path does not resolve.
std::string device_name(const std::string& path) {
  char real[PATH_MAX];
  if (::realpath(path.c_str(), real) == nullptr) return "";
  const char* slash = std::strrchr(real, '/');
  return slash ? slash + 1 : real;
}

}  // namespace

bool request_low_latency(int fd) {
  serial_struct ss{};
  if (::ioctl(fd, TIOCGSERIAL, &ss) != 0) return false;
  if ((ss.flags & ASYNC_LOW_LATENCY) == 0) {
    ss.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(fd, TIOCSSERIAL, &ss) != 0) return false;
    if (::ioctl(fd, TIOCGSERIAL, &ss) != 0) return false;
  }
  return (ss.flags & ASYNC_LOW_LATENCY) != 0;
}

std::int32_t sysfs_latency_timer(const std::string& root, const char* name) {
  const std::string dev = device_name(root + name);
  if (dev.empty()) return -1;
  return tty_latency_timer(root, dev);
}

std::int32_t tty_latency_timer(const std::string& root, const std::string& tty) {
  const std::string attr = root + "/sys/class/tty/" + tty + "/device/latency_timer";
  std::FILE* f = std::fopen(attr.c_str(), "r");
  if (f == nullptr) return -1;
  char text[16] = {};
  const bool read = std::fgets(text, sizeof text, f) != nullptr;
  std::fclose(f);
  if (!read) return -1;
  char* end = nullptr;
  const long ms = std::strtol(text, &end, 10);
  if (end == text || (*end != '\0' && *end != '\n') || ms < 0 || ms > 255) return -1;
  return static_cast<std::int32_t>(ms);
}

std::string latency_advice(const char* port) {
  const std::string dev = device_name(port);
  return "lower it to 1 ms as root (echo 1 > /sys/class/tty/" + (dev.empty() ? std::string("ttyUSB0") : dev) +
         "/device/latency_timer) or for good with a udev rule (README, Station set-up)";
}

}  // namespace cli
