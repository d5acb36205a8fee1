// The platform of an update run over a real serial device on Linux (a pty the virtual printer
// serves): the port opened as the console program opens it, the real clock, a fixed local time,
// and production log lines kept in memory instead of a file.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "serial/host.h"
#include "serial/port_posix.h"
#include "update/platform.h"

namespace fakes {

class PtyPlatform final : public update::Platform {
 public:
  serial::Port* open_port(const char* name, std::uint32_t speed) override {
    const int fd = serial::open_port(name, speed);
    if (fd < 0) {
      std::snprintf(open_failure_, sizeof open_failure_, "%s", std::strerror(errno));
      return nullptr;
    }
    port_.attach(fd);
    return &port_;
  }
  void open_failure(char* dst, std::size_t cap) override { std::snprintf(dst, cap, "%s", open_failure_); }
  serial::Host& host() override { return serial::console_host(); }
  update::LocalTime local_time() override { return {2026, 12, 6, 3, 57, 54}; }
  bool append_file(const char* file_name, const char* data, std::size_t n, char*, std::size_t) override {
    appended_to = file_name;
    appended.emplace_back(data, n);
    return true;
  }

  std::string appended_to;
  std::vector<std::string> appended;  // one entry per append

 private:
  serial::PosixPort port_;
  char open_failure_[128] = {};
};

}  // namespace fakes
