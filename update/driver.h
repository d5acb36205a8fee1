// One update run, from START until the port is closed again.
#pragma once

#include <cstdint>

#include "package/package.h"
#include "update/platform.h"
#include "update/run_observer.h"
#include "update/run_state.h"

namespace update {

// What a front end asks for. The texts must stay unchanged until run_update returns; the port
// name is read only until the port is open, so it may live in the run state's text buffer.
struct RunRequest {
  const char* port_name;
  std::uint32_t speed;         // bits per second
  const char* production_log;  // the file a finished update appends its line to
};

// Opens the port, identifies the printer, switches it into update mode, transfers the image,
// closes the port and, when the update finished, appends the production log line. The front end
// sets state.run_active before the call and clears it afterwards.
Outcome run_update(const RunRequest& request, RunObserver& observer, Platform& platform, RunState& state,
                   package::Record& pkg);

}  // namespace update
