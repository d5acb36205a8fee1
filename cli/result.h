// What zorven-cli reports once every port's run is over: one final line per port for a person or
// a log reader, one JSON object per port for a script, and the exit status.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "cli/run_ports.h"

namespace cli {

inline constexpr int kExitFinished = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
// Every printer that finished is updated, but a record of it could not be written: its production
// log line, or the --json file. A script must not update those printers again.
inline constexpr int kExitNotRecorded = 3;
inline constexpr int kExitStopped = 130;  // the shell's status after SIGINT

// "ttyUSB1  failed    ZP-104712  0.4 s  block 200 of 1242: no reply within 5 s": the port (padded
// to port_width), the outcome, the serial number ("-" for none), the seconds and, where the run
// ended short or its record was lost, why.
std::string final_line(const PortResult& r, std::size_t port_width);

// The warning for a finished printer that gave no serial number; "" when there is nothing to warn of.
std::string serial_warning(const PortResult& r);

// One port's object of the --json array.
nlohmann::ordered_json port_json(const PortResult& r, const std::string& production_log);

// The whole --json file: an array of every port's object, indented, ending in a newline. Bytes
// from a printer that are not UTF-8 are replaced rather than refused.
std::string results_json_text(const std::vector<PortResult>& results, const std::string& production_log);

// The parts of a port's object that the station's records share: the failure (null for none),
// the production log line and the link figures.
nlohmann::ordered_json failure_json(const update::Failure& f);
nlohmann::ordered_json production_log_json(const update::ProductionLogWrite& w, const std::string& path);
nlohmann::ordered_json link_json(const PortResult& r);

// The status the results call for: a lost record first (it needs a person), then a stop, then a
// failed port.
int exit_status(const std::vector<PortResult>& results, bool stopped);

// The status once the --json file could not be written, from the status the results called for:
// "not recorded" when a printer finished (its only record of the run is lost), else at least a
// failure.
int exit_status_without_json(const std::vector<PortResult>& results, int status);

}  // namespace cli
