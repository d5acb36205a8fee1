// What the timed operations need from the program around them: the calendar clock in whole
// seconds and the pump of at most one pending user-interface message.
#pragma once

#include <cstdint>

namespace serial {

class Host {
 public:
  // Calendar time in whole seconds since 1970.
  virtual std::int64_t now_seconds() = 0;

  // Removes at most one pending message of the thread, for any window, and translates and
  // dispatches it. Dialog handlers may run inside this call.
  virtual void pump_one() = 0;

 protected:
  ~Host() = default;
};

// The host of a program without a user interface: the real clock, nothing to pump.
Host& console_host();

}  // namespace serial
