// The `ports` command's two forms of the port list: aligned columns for a person ("-" where the
// system does not say) and a JSON array for a script (null where it does not).
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "cli/console.h"

namespace cli {

// A header line and one line per port: PORT DEVICE VID:PID SERIAL DRIVER LATENCY.
std::vector<std::string> ports_table(const std::vector<PortInfo>& ports);

nlohmann::ordered_json ports_json(const std::vector<PortInfo>& ports);

}  // namespace cli
