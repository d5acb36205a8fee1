// zorven-cli: the updater for production stations. The same driver as the update dialog, run on
// several ports at once from a script, with an exit status and a JSON result.
//
//   zorven-cli update --port PORT [--port PORT ...] [--baud N] [--log FILE] [--json FILE]
//   zorven-cli info
//   zorven-cli ports
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/output.h"
#include "cli/ports_listing.h"
#include "cli/result.h"
#include "cli/run_ports.h"
#include "cli/station.h"
#include "package/package.h"
#include "package/protocol_constants.h"
#include "update/file_append.h"
#include "update/operator_text.h"
#include "update/production_log.h"

namespace cli {
extern const char kImageSha256[];  // made by the build from the record's image bytes
}

namespace {

using cli::kExitFailed;
using cli::kExitFinished;
using cli::kExitNotRecorded;
using cli::kExitUsage;

constexpr char kProgram[] = "zorven-cli";

constexpr char kExitStatusHelp[] =
    "Exit status: 0 every port finished and was recorded; 1 a port failed; 2 usage error, or the production log\n"
    "or the --json file cannot be written (no port is touched); 3 updated but not recorded: a finished printer's\n"
    "production log line (or the --json file) could not be written, do not update it again; 130 stopped by\n"
    "Ctrl-C, SIGTERM or SIGHUP (a second one ends the program at once).";

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

// The ports with the adapter behind each, as aligned columns or as a JSON array.
int show_ports(bool json) {
  const std::vector<cli::PortInfo> ports = cli::list_ports();
  if (json) {
    say(cli::ports_json(ports).dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
  } else {
    for (const std::string& line : cli::ports_table(ports)) say(line);
  }
  return kExitFinished;
}

// Whether a file can be put at `path` the way write_json puts it: its temporary can be created
// beside it and it is not a folder. Nothing is left behind.
bool can_create(const std::string& path, std::string& why) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    why = "it is a folder";
    return false;
  }
  const std::string tmp = path + ".tmp";
  const bool existed = std::filesystem::exists(tmp, ec);
  char reason[update::kAppendReasonSize] = "";
  if (!update::can_append(tmp.c_str(), reason, sizeof reason)) {
    why = reason;
    return false;
  }
  if (!existed) std::remove(tmp.c_str());
  return true;
}

// The records are checked before any printer is touched: a production log or a result file that
// cannot be written is a usage error, not a surprise after the updates.
bool records_writable(const std::string& log_file, const std::string& json_path) {
  char why[update::kAppendReasonSize] = "";
  if (!update::can_append(log_file.c_str(), why, sizeof why)) {
    complain("cannot write the production log " + log_file + ": " + why);
    return false;
  }
  std::string reason;
  if (!json_path.empty() && !can_create(json_path, reason)) {
    complain("cannot write the --json file " + json_path + ": " + reason);
    return false;
  }
  return true;
}

// The result file, written under a temporary name and renamed, so that a reader never sees half
// of it.
bool write_json(const std::string& path, const std::vector<cli::PortResult>& results, const std::string& log_file) {
  const std::string text = cli::results_json_text(results, log_file);
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

// One line per port, below everything else, whether or not the output is a terminal.
void show_final_lines(cli::Output& out, const std::vector<cli::PortResult>& results) {
  std::size_t width = 0;
  for (const cli::PortResult& r : results) width = r.port.size() > width ? r.port.size() : width;
  out.end_live();
  for (const cli::PortResult& r : results) out.line(cli::final_line(r, width).c_str());
  for (const cli::PortResult& r : results) {
    const std::string warning = cli::serial_warning(r);
    if (!warning.empty()) out.line(warning.c_str());
  }
}

int update_ports(const cli::UpdateRequest& request, const std::string& json_path) {
  const package::Record& pkg = package::embedded();
  if (!package::is_present(pkg)) {
    complain(update::kNoPackageText);
    return kExitFailed;
  }
  if (!records_writable(request.log_file, json_path)) return kExitUsage;
  cli::install_stop_handler();
  cli::Output out(cli::output_is_terminal(), request.ports.size());
  const std::vector<cli::PortResult> results = cli::run_ports(request, pkg, out);
  show_final_lines(out, results);

  int status = cli::exit_status(results, cli::stop_requested());
  if (!json_path.empty() && !write_json(json_path, results, request.log_file)) {
    complain("cannot write the --json file " + json_path);
    status = cli::exit_status_without_json(results, status);
  }
  return status;
}

// Every port resolved to its device before anything starts: a device named twice would be opened
// twice, and the second open would only report it busy.
bool resolve_ports(const std::vector<std::string>& ports, std::vector<std::string>& devices) {
  std::map<std::string, std::string> seen;  // device -> the name it was first given as
  for (const std::string& p : ports) {
    if (p.empty()) {
      complain("--port: an empty name is not a port");
      return false;
    }
    const std::string device = cli::device_of(p);
    const auto [at, fresh] = seen.emplace(device, p);
    if (!fresh) {
      if (at->second == p) {
        complain("--port: " + p + " is given twice");
      } else {
        complain("--port: " + at->second + " and " + p + " are the same device (" + device + ")");
      }
      return false;
    }
    devices.push_back(device);
  }
  return true;
}

int run_station(const cli::station::Request& request) {
  const package::Record& pkg = package::embedded();
  if (!package::is_present(pkg)) {
    complain(update::kNoPackageText);
    return kExitFailed;
  }
  char why[update::kAppendReasonSize] = "";
  if (!update::can_append(request.log_file.c_str(), why, sizeof why)) {
    complain("cannot write the production log " + request.log_file + ": " + why);
    return kExitUsage;
  }
  if (!update::can_append(request.results_file.c_str(), why, sizeof why)) {
    complain("cannot write the results file " + request.results_file + ": " + why);
    return kExitUsage;
  }
  return cli::station::run(request, pkg);
}

std::string version_text() {
  return std::string(kProgram) + " " ZORVEN_VERSION ", firmware package \"" + package::version_text(package::embedded()) + "\"";
}

std::string speeds_text() {
  std::string s;
  for (std::uint32_t v : package::kSpeeds) s += (s.empty() ? "" : ", ") + std::to_string(v);
  return s;
}

// --port, required, once for each port.
void add_port_option(CLI::App* command, std::vector<std::string>& ports, const char* help) {
  command->add_option("--port", ports, help)
      ->required()
      ->type_name("PORT")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

// A speed of the speed table, told in words when it is not one.
CLI::Validator speed_validator() {
  return CLI::Validator(
      [](std::string& v) -> std::string {
        for (std::uint32_t s : package::kSpeeds)
          if (v == std::to_string(s)) return "";
        return "\"" + v + "\" is not a line speed; use one of " + speeds_text();
      },
      "N");
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Firmware updater for production stations: updates the printers on one or more serial ports at "
               "once with the firmware package this program carries.",
               kProgram};
  app.set_version_flag("--version", version_text());
  app.require_subcommand(0, 1);
  app.footer(std::string("Examples:\n"
                         "  zorven-cli info\n"
                         "  zorven-cli ports\n"
                         "  zorven-cli update --port /dev/ttyUSB0 --port /dev/ttyUSB1 --baud 115200 --json result.json\n"
                         "  zorven-cli update --port COM3 --port COM12\n"
                         "  zorven-cli help update\n"
                         "\n") +
             kExitStatusHelp);

  std::vector<std::string> ports;
  std::uint32_t baud = package::kDefaultSpeed;
  std::string log_file = update::kProductionLogFile;
  std::string json_path;
  std::string help_topic;

  CLI::App* update = app.add_subcommand("update", "Update the printer on each port, all at once");
  add_port_option(update, ports, "Serial port: a device path (/dev/ttyUSB0) or a COM name (COM3); repeat for more");
  update->add_option("--baud", baud, "Line speed in bits per second: " + speeds_text())
      ->type_name("N")
      ->check(speed_validator())
      ->capture_default_str();
  update->add_option("--log", log_file, "Production log that every finished update adds its line to")
      ->type_name("FILE")
      ->capture_default_str();
  update->add_option("--json", json_path, "Write the result of every port to FILE as JSON")->type_name("FILE");
  update->footer(std::string("Checks that the production log and the --json file can be written before it touches\n"
                             "a port. Prints the log lines of every port, then one final line per port: port, outcome,\n"
                             "serial number, seconds and, for a port that did not finish, where and why.\n"
                             "\n"
                             "Example:\n"
                             "  zorven-cli update --port /dev/ttyUSB0 --port /dev/ttyUSB1 --baud 115200 --json result.json\n"
                             "\n") +
                 kExitStatusHelp);

  CLI::App* info = app.add_subcommand("info", "Show the firmware package this program carries");
  info->footer("Example:\n  zorven-cli info\n\nExit status: 0 shown; 1 the program carries no package.");
  CLI::App* list = app.add_subcommand("ports", "List the serial ports of this station, with the adapter behind each");
  bool ports_json = false;
  list->add_flag("--json", ports_json, "Print the list as a JSON array");
  list->footer("Examples:\n  zorven-cli ports\n  zorven-cli ports --json\n\nExit status: 0.");
  std::vector<std::string> station_ports;
  std::uint32_t station_baud = package::kDefaultSpeed;
  std::string station_log = update::kProductionLogFile;
  std::string results_file;
  bool allow_repeat = false;
  std::uint32_t station_count = 0;
  std::uint32_t station_idle = 0;
  std::string station_json;
  CLI::App* station = app.add_subcommand("station", "Keep every port armed: update each printer that appears, once");
  add_port_option(station, station_ports, "Serial port; repeat for more (best the /dev/serial/by-id names)");
  station->add_option("--baud", station_baud, "Line speed in bits per second: " + speeds_text())
      ->type_name("N")
      ->check(speed_validator())
      ->capture_default_str();
  station->add_option("--log", station_log, "Production log that every finished update adds its line to")
      ->type_name("FILE")
      ->capture_default_str();
  station->add_option("--results", results_file,
                      "Results file, one JSON line per attempt (default: zorven-results.ndjson beside the log)")
      ->type_name("FILE");
  station->add_flag("--allow-repeat", allow_repeat, "Update a printer again that already has this package");
  station->add_option("--count", station_count, "End after N finished updates in all")->type_name("N");
  station->add_option("--idle", station_idle, "End when no port has seen a printer for SECONDS")->type_name("SECONDS");
  station->add_option("--json", station_json, "\"-\": every record and event as a JSON line on standard output")
      ->type_name("-")
      ->check(CLI::IsMember({"-"}));
  station->footer(std::string("Each port waits for a printer (it asks for the serial number again and again), updates\n"
                              "it, records the attempt in the results file, and waits until the printer has gone\n"
                              "before it takes the next. A printer already updated with this package (in the results\n"
                              "file or the production log) is skipped. Ctrl-C, SIGTERM or SIGHUP stops it.\n"
                              "\n"
                              "Example:\n"
                              "  zorven-cli station --port /dev/serial/by-id/usb-FTDI_A1-if00-port0 --baud 115200\n"
                              "\n"
                              "Exit status: 0 ended by --count or --idle; 2 usage error, or the production log or the\n"
                              "results file cannot be written; 3 a record could not be written; 130 stopped by a signal."));
  CLI::App* help = app.add_subcommand("help", "Show the help of the program or of one command");
  help->add_option("command", help_topic, "update, info or ports")->type_name("COMMAND");
  help->footer("Example:\n  zorven-cli help update");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(e);
    complain(first_line(e.what()));
    return kExitUsage;
  }

  if (*update) {
    std::vector<std::string> devices;
    if (!resolve_ports(ports, devices)) return kExitUsage;
    cli::UpdateRequest request{ports, devices, baud, log_file};
    return update_ports(request, json_path);
  }
  if (*station) {
    std::vector<std::string> devices;
    if (!resolve_ports(station_ports, devices)) return kExitUsage;
    if (results_file.empty()) results_file = cli::station::default_results_file(station_log);
    return run_station({station_ports, devices, station_baud, station_log, results_file, allow_repeat, station_count,
                        station_idle, !station_json.empty(), cli::kImageSha256});
  }
  if (*info) return show_info(package::embedded());
  if (*list) return show_ports(ports_json);
  if (*help) {
    if (help_topic.empty()) {
      say(app.help());
      return kExitFinished;
    }
    for (CLI::App* sub : {update, station, info, list}) {
      if (sub->get_name() == help_topic) {
        say(sub->help());
        return kExitFinished;
      }
    }
    complain("help: no command \"" + help_topic + "\"; the commands are update, info and ports");
    return kExitUsage;
  }
  complain("A subcommand is required: update, info or ports");
  return kExitUsage;
}
