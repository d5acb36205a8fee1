// The host of a program without a user interface: the calendar clock and nothing to pump.
#include <ctime>

#include "serial/host.h"

namespace serial {

namespace {

class ConsoleHost final : public Host {
 public:
  std::int64_t now_seconds() override { return static_cast<std::int64_t>(std::time(nullptr)); }
  // No window, no messages: STOP cannot arrive, so there is nothing to hand control to.
  void pump_one() override {}
};

ConsoleHost g_console_host;

}  // namespace

Host& console_host() { return g_console_host; }

}  // namespace serial
