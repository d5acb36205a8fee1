// The parts of one port's platform that are the same everywhere.
#include <ctime>

#include "cli/console.h"
#include "update/file_append.h"

namespace cli {

update::LocalTime ConsolePlatform::local_time() { return update::local_time_now(); }

bool ConsolePlatform::append_file(const char*, const char* data, std::size_t n) {
  return update::append_file(log_file_, data, n);
}

std::int64_t ConsolePlatform::now_seconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

void ConsolePlatform::pump_one() {
  if (!stop_requested()) return;
  state_.run_active = 0;
  state_.stop_request = 1;
  stopped_ = true;
}

}  // namespace cli
