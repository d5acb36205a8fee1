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
        platform(make_platform(state, link)),
        observer(out, index, port.c_str(), prefix.c_str(), platform->open_failure(), package::image_length(pkg), log,
                 link),
        request{port.c_str(), request.speed, request.log_file.c_str()} {}

  void run() {
    const auto start = std::chrono::steady_clock::now();
    state.run_active = 1;  // as the dialog's START sets it
    outcome = update::run_update(request, observer, *platform, state, record);
    state.run_active = 0;
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  package::Record record;
  update::RunState state;
  LogStore log;
  LinkRecord link;
  std::string port;
  std::string prefix;
  std::unique_ptr<ConsolePlatform> platform;
  ConsoleObserver observer;
  const update::RunRequest request;
  update::Outcome outcome = update::Outcome::kPortNotOpened;
  double seconds = 0;
};

}  // namespace

std::vector<PortResult> run_ports(const RunRequest& request, const package::Record& pkg, Output& out) {
  const bool prefixed = request.ports.size() > 1;
  std::vector<std::unique_ptr<PortRun>> runs;
  for (std::size_t i = 0; i < request.ports.size(); ++i) {
    runs.push_back(std::make_unique<PortRun>(pkg, request.ports[i], i, prefixed, request, out));
    runs.back()->observer.show_waiting();
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
    res.outcome = console_outcome(r->outcome);
    r->log.each([&res](const char* line) { res.log.emplace_back(line); });
    res.log_dropped = r->log.dropped();
    res.error = r->platform->open_failure();
    res.seconds = r->seconds;
    res.bytes_acknowledged = r->state.bytes_acknowledged;
    res.link = r->link.setup;
    res.retries = r->link.retries;
    const Turnarounds& t = r->link.turnarounds;
    res.verdicts = t.count();
    res.turnaround_median_ms = t.percentile_ms(50);
    res.turnaround_p95_ms = t.percentile_ms(95);
    res.turnaround_max_ms = t.max_ms();
    results.push_back(std::move(res));
  }
  return results;
}

}  // namespace cli
