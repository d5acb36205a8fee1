// zorven-cli: the updater for production stations. The same driver as the update dialog, run on
// several ports at once from a script, with an exit status and a JSON result.
//
//   zorven-cli update --port PORT [--port PORT ...] [--baud N] [--log FILE] [--json FILE]
//   zorven-cli info
//   zorven-cli ports
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/output.h"
#include "cli/run_ports.h"
#include "package/package.h"
#include "package/protocol_constants.h"
#include "update/operator_text.h"
#include "update/production_log.h"

namespace cli {
extern const char kImageSha256[];  // made by the build from the record's image bytes
}

namespace {

constexpr int kExitFinished = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStopped = 130;  // the shell's status after SIGINT

constexpr char kProgram[] = "zorven-cli";

void say(const std::string& text) {
  const std::string line = text + "\n";
  cli::write_out(line.data(), line.size());
}

void complain(const std::string& text) {
  const std::string line = std::string(kProgram) + ": " + text + "\n";
  cli::write_err(line.data(), line.size());
}

// The first line of a message, for a usage error that is told in one line.
std::string first_line(const std::string& s) { return s.substr(0, s.find('\n')); }

int show_info(const package::Record& pkg) {
  if (!package::is_present(pkg)) {
    complain(update::kNoPackageText);
    return kExitFailed;
  }
  const package::Text tag = package::log_tag(pkg);
  say("version text:     " + std::string(package::version_text(pkg)));
  say("protocol variant: " + std::to_string(pkg.variant));
  say("scramble flag:    " + std::to_string(pkg.scramble_flag));
  say("image length:     " + std::to_string(package::image_length(pkg)) + " bytes");
  say("log tag:          " + std::string(tag.data, tag.length));
  say("image SHA-256:    " + std::string(cli::kImageSha256));
  return kExitFinished;
}

// The ports with the adapter behind each, as aligned columns under a header ("-" where the
// system does not say), or as a JSON array (null where it does not).
int show_ports(bool json) {
  const std::vector<cli::PortInfo> ports = cli::list_ports();
  if (json) {
    const auto text_or_null = [](const std::string& s) {
      return s.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(s);
    };
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    for (const cli::PortInfo& p : ports) {
      nlohmann::ordered_json j;
      j["port"] = p.port;
      j["device"] = text_or_null(p.device);
      j["vendor_id"] = text_or_null(p.vendor_id);
      j["product_id"] = text_or_null(p.product_id);
      j["serial_number"] = text_or_null(p.serial_number);
      j["driver"] = text_or_null(p.driver);
      j["latency_timer_ms"] = p.latency_timer_ms >= 0 ? nlohmann::ordered_json(p.latency_timer_ms) : nullptr;
      all.push_back(std::move(j));
    }
    say(all.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
    return kExitFinished;
  }
  const auto shown = [](const std::string& s) { return s.empty() ? std::string("-") : s; };
  std::vector<std::vector<std::string>> rows = {{"PORT", "DEVICE", "VID:PID", "SERIAL", "DRIVER", "LATENCY"}};
  for (const cli::PortInfo& p : ports) {
    const bool ids = !p.vendor_id.empty() && !p.product_id.empty();
    rows.push_back({p.port, shown(p.device), ids ? p.vendor_id + ":" + p.product_id : "-", shown(p.serial_number),
                    shown(p.driver), p.latency_timer_ms >= 0 ? std::to_string(p.latency_timer_ms) + " ms" : "-"});
  }
  std::vector<std::size_t> width(rows[0].size(), 0);
  for (const auto& row : rows)
    for (std::size_t c = 0; c < row.size(); ++c)
      if (row[c].size() > width[c]) width[c] = row[c].size();
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c + 1 < row.size(); ++c) line += row[c] + std::string(width[c] - row[c].size() + 2, ' ');
    say(line + row.back());
  }
  return kExitFinished;
}

// What the station knows of the line: the adapter's latency timer (null where the system shows
// none), whether low latency was granted, each block's wait for its verdict (null before the
// first verdict) and the RETRY verdicts.
nlohmann::ordered_json link_json(const cli::PortResult& r) {
  nlohmann::ordered_json link;
  link["latency_timer_ms"] = r.link.latency_timer_ms >= 0 ? nlohmann::ordered_json(r.link.latency_timer_ms) : nullptr;
  link["low_latency"] = r.link.low_latency;
  if (r.verdicts == 0) {
    link["turnaround_ms"] = nullptr;
  } else {
    link["turnaround_ms"] = {{"median", r.turnaround_median_ms}, {"p95", r.turnaround_p95_ms},
                             {"max", r.turnaround_max_ms}};
  }
  link["retries"] = r.retries;
  return link;
}

// The result file, written under a temporary name and renamed, so that a reader never sees half
// of it.
bool write_json(const std::string& path, const std::vector<cli::PortResult>& results) {
  nlohmann::ordered_json all = nlohmann::ordered_json::array();
  for (const cli::PortResult& r : results) {
    nlohmann::ordered_json j;
    j["port"] = r.port;
    j["serial_number"] = r.serial_number;
    j["outcome"] = cli::outcome_name(r.outcome);
    j["log"] = r.log;
    if (r.log_dropped != 0) j["log_lines_dropped"] = r.log_dropped;
    if (!r.error.empty()) j["error"] = r.error;
    j["seconds"] = r.seconds;
    j["bytes_acknowledged"] = r.bytes_acknowledged;
    j["link"] = link_json(r);
    all.push_back(std::move(j));
  }
  // Bytes from the printer that are not UTF-8 are replaced rather than refused.
  const std::string text = all.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
  const std::string tmp = path + ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    f.write(text.data(), static_cast<std::streamsize>(text.size()));
    f.close();
    if (!f) {
      std::remove(tmp.c_str());
      return false;
    }
  }
  if (!cli::replace_file(tmp.c_str(), path.c_str())) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

int update_ports(const cli::RunRequest& request, const std::string& json_path) {
  const package::Record& pkg = package::embedded();
  if (!package::is_present(pkg)) {
    complain(update::kNoPackageText);
    return kExitFailed;
  }
  cli::install_stop_handler();
  cli::Output out(cli::output_is_terminal(), request.ports.size());
  const std::vector<cli::PortResult> results = cli::run_ports(request, pkg, out);

  int status = kExitFinished;
  for (const cli::PortResult& r : results)
    if (r.outcome != cli::Outcome::kFinished) status = kExitFailed;
  if (cli::stop_requested()) status = kExitStopped;

  if (!json_path.empty() && !write_json(json_path, results)) {
    complain("cannot write " + json_path);
    if (status == kExitFinished) status = kExitFailed;
  }
  return status;
}

std::string version_text() {
  return std::string(kProgram) + " " ZORVEN_VERSION ", firmware package \"" + package::version_text(package::embedded()) + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Firmware updater for production stations: updates the printers on one or more serial ports at "
               "once with the firmware package this program carries.",
               kProgram};
  app.set_version_flag("--version", version_text());
  app.require_subcommand(0, 1);
  app.footer(
      "Examples:\n"
      "  zorven-cli info\n"
      "  zorven-cli ports\n"
      "  zorven-cli update --port /dev/ttyUSB0 --port /dev/ttyUSB1 --baud 115200 --json result.json\n"
      "  zorven-cli update --port COM3 --port COM12\n"
      "\n"
      "Exit status: 0 every port finished, 1 a port failed, 2 usage error, 130 stopped by Ctrl-C.");

  std::vector<std::string> ports;
  std::uint32_t baud = package::kDefaultSpeed;
  std::string log_file = update::kProductionLogFile;
  std::string json_path;

  CLI::App* update = app.add_subcommand("update", "Update the printer on each port, all at once");
  update->add_option("--port", ports, "Serial port: a device path (/dev/ttyUSB0) or a COM name (COM3); repeat for more")
      ->required()
      ->type_name("PORT")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  update->add_option("--baud", baud, "Line speed in bits per second")
      ->type_name("N")
      ->check(CLI::IsMember(std::vector<std::uint32_t>(std::begin(package::kSpeeds), std::end(package::kSpeeds))))
      ->capture_default_str();
  update->add_option("--log", log_file, "Production log that every finished update adds its line to")
      ->type_name("FILE")
      ->capture_default_str();
  update->add_option("--json", json_path, "Write the result of every port to FILE as JSON")->type_name("FILE");
  update->footer("Example:\n  zorven-cli update --port /dev/ttyUSB0 --port /dev/ttyUSB1 --baud 115200 --json result.json");

  CLI::App* info = app.add_subcommand("info", "Show the firmware package this program carries");
  CLI::App* list = app.add_subcommand("ports", "List the serial ports of this station, with the adapter behind each");
  bool ports_json = false;
  list->add_flag("--json", ports_json, "Print the list as a JSON array");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(e);
    complain(first_line(e.what()));
    return kExitUsage;
  }

  if (*update) {
    std::set<std::string> seen;
    for (const std::string& p : ports) {
      if (!seen.insert(p).second) {
        complain("--port: " + p + " is given twice");
        return kExitUsage;
      }
    }
    cli::RunRequest request{ports, baud, log_file};
    return update_ports(request, json_path);
  }
  if (*info) return show_info(package::embedded());
  if (*list) return show_ports(ports_json);
  complain("A subcommand is required: update, info or ports");
  return kExitUsage;
}
