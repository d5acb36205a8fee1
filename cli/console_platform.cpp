// The parts of one port's platform that are the same everywhere.
#include <ctime>

#include "cli/console.h"
#include "update/file_append.h"

namespace cli {

update::LocalTime ConsolePlatform::local_time() { return update::local_time_now(); }

bool ConsolePlatform::append_file(const char* file_name, const char* data, std::size_t n) {
  return update::append_file(file_name, data, n);
}

std::int64_t ConsolePlatform::now_seconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

void ConsolePlatform::pump_one() {
  if (!stop_requested()) return;
  state_.run_active = 0;
  state_.stop_request = 1;
}

}  // namespace cli
