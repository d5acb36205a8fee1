#include "cli/run_ports.h"

#include <chrono>
#include <memory>
#include <thread>

#include "cli/console.h"
#include "cli/console_ops.h"
#include "update/driver.h"
#include "update/run_state.h"

namespace cli {

namespace {

// Everything one run touches. The run changes its record (the variant-3 retry clears the scramble
// flag for one frame), so every run has a copy of its own.
struct PortRun {
  PortRun(const package::Record& pkg, const std::string& port_name, std::size_t index, bool prefixed,
          const RunRequest& request, Output& out)
      : record(pkg),
        port(port_name),
        prefix(prefixed ? port_name + ": " : std::string()),
        platform(make_platform(state, request.log_file.c_str())),
        ops(out, index, port.c_str(), prefix.c_str(), request.speed_index, state, package::image_length(pkg), log) {
    ops.set_error_reason(platform->open_failure());
  }

  void run() {
    const auto start = std::chrono::steady_clock::now();
    state.run_active = 1;  // as the dialog's START sets it
    result = update::run_update(ops, *platform, state, record);
    state.run_active = 0;
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ops.show_outcome(outcome_name(outcome()));
  }

  // Finished exactly when the driver logged "Process finished.": the port opened and no stop
  // request was raised, by a failure or by Ctrl-C. A run that did not finish was stopped when it
  // took the stop request of Ctrl-C.
  Outcome outcome() const {
    if (result == 0 && state.stop_request == 0) return Outcome::kFinished;
    return platform->stopped() ? Outcome::kStopped : Outcome::kFailed;
  }

  package::Record record;
  update::RunState state;
  LogStore log;
  std::string port;
  std::string prefix;
  std::unique_ptr<ConsolePlatform> platform;
  ConsoleOps ops;
  int result = 1;
  double seconds = 0;
};

}  // namespace

const char* outcome_name(Outcome o) {
  switch (o) {
    case Outcome::kFinished:
      return "finished";
    case Outcome::kStopped:
      return "stopped";
    case Outcome::kFailed:
      break;
  }
  return "failed";
}

std::vector<PortResult> run_ports(const RunRequest& request, const package::Record& pkg, Output& out) {
  const bool prefixed = request.ports.size() > 1;
  std::vector<std::unique_ptr<PortRun>> runs;
  for (std::size_t i = 0; i < request.ports.size(); ++i) {
    runs.push_back(std::make_unique<PortRun>(pkg, request.ports[i], i, prefixed, request, out));
    runs.back()->ops.show_outcome("waiting");
  }

  std::vector<std::thread> threads;
  threads.reserve(runs.size());
  for (auto& r : runs) threads.emplace_back([run = r.get()] { run->run(); });
  for (std::thread& t : threads) t.join();

  std::vector<PortResult> results;
  for (const auto& r : runs) {
    PortResult res;
    res.port = r->port;
    res.serial_number = r->state.serial_number;
    res.outcome = r->outcome();
    r->log.each([&res](const char* line) { res.log.emplace_back(line); });
    res.log_dropped = r->log.dropped();
    res.error = r->platform->open_failure();
    res.seconds = r->seconds;
    res.bytes_acknowledged = r->state.bytes_acknowledged;
    results.push_back(std::move(res));
  }
  return results;
}

}  // namespace cli
