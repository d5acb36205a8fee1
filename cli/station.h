// The station: every port stays armed all shift. Each port, on a thread of its own, waits for the
// next printer, updates it with the same run as `update`, records the attempt, and waits for the
// printer to go before it arms again. Nothing is shared between the ports but the production log,
// the results file and what the station knows of the printers it already updated.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/package.h"

namespace cli::station {

struct Request {
  std::vector<std::string> ports;
  std::vector<std::string> devices;  // what each port resolves to
  std::uint32_t speed = 0;
  std::string log_file;
  std::string results_file;
  bool allow_repeat = false;      // update a printer again that already has this package
  std::uint32_t count = 0;        // end after this many finished updates in all; 0: no end
  std::uint32_t idle_seconds = 0;  // end when no port has seen a printer this long; 0: no end
  bool json_events = false;       // records and events as JSON lines on standard output
  std::string image_sha256;
};

// Runs the station until a stop signal, --count or --idle ends it; returns the exit status.
int run(const Request& request, const package::Record& pkg);

// The results file beside the production log.
std::string default_results_file(const std::string& log_file);

}  // namespace cli::station
