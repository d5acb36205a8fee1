// One update run per port, all at once: one thread each, every run with its own state, its own
// port and its own observer, all made before the first thread starts; the package record is the
// one all runs read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/console_observer.h"
#include "cli/output.h"
#include "package/package.h"
#include "update/run.h"

namespace cli {

struct PortResult {
  std::string port;
  std::string device;  // the device the port name leads to
  // The run's own account: how and where it ended, the serial number, the bytes acknowledged and
  // its production log line.
  update::RunResult run;
  std::vector<std::string> log;  // the run's log lines as the dialog shows them
  std::size_t log_dropped = 0;   // oldest lines that did not fit the run's log area
  double seconds = 0;
  std::uint32_t blocks_acknowledged = 0;  // blocks answered "OK"
  LinkSetup link;
  std::uint32_t retries = 0;   // RETRY verdicts
  std::uint32_t verdicts = 0;  // block verdicts read, RETRY included
  double turnaround_median_ms = 0;
  double turnaround_p95_ms = 0;
  double turnaround_max_ms = 0;

  PortStatus status() const { return port_status(run.outcome); }
  const char* serial_number() const { return run.serial_number; }
};

// One port's result from its run's result, the link's record and the run's kept log lines.
PortResult port_result(const std::string& port, const std::string& device, const update::RunResult& run,
                       const LinkRecord& link, const LogStore& log, double seconds);

struct UpdateRequest {
  std::vector<std::string> ports;
  std::vector<std::string> devices;  // what each port resolves to, in the same order
  std::uint32_t speed = 0;  // bits per second, one of package::kSpeeds
  std::string log_file;
};

// Runs every port's update and returns the results in the order the ports were given. Once Ctrl-C
// has come, every port still running shows "stopping" until its run is over.
std::vector<PortResult> run_ports(const UpdateRequest& request, const package::Record& pkg, Output& out);

}  // namespace cli
