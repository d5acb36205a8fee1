#include "cli/run_ports.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
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
        observer(out, index, port.c_str(), prefix.c_str(), package::image_length(pkg), log, link),
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

  // The runs say when they are over; meanwhile a Ctrl-C is shown on every port still running.
  std::mutex mutex;
  std::condition_variable over;
  std::vector<bool> ended(runs.size(), false);
  std::size_t running = runs.size();
  std::vector<std::thread> threads;
  threads.reserve(runs.size());
  for (std::size_t i = 0; i < runs.size(); ++i) {
    threads.emplace_back([&, i] {
      runs[i]->run();
      std::lock_guard<std::mutex> lock(mutex);
      ended[i] = true;
      --running;
      over.notify_one();
    });
  }
  {
    std::unique_lock<std::mutex> lock(mutex);
    bool stopping_shown = false;
    while (running > 0) {
      over.wait_for(lock, std::chrono::milliseconds(100));
      if (stopping_shown || !stop_requested()) continue;
      stopping_shown = true;
      for (std::size_t i = 0; i < runs.size(); ++i)
        if (!ended[i]) runs[i]->observer.show_stopping();
    }
  }
  for (std::thread& t : threads) t.join();

  std::vector<PortResult> results;
  for (const auto& r : runs) {
    PortResult res;
    res.port = r->port;
    res.device = request.devices.size() > results.size() ? request.devices[results.size()] : r->port;
    res.serial_number = r->state.serial_number;
    res.outcome = console_outcome(r->outcome);
    res.run = r->observer.result();
    r->log.each([&res](const char* line) { res.log.emplace_back(line); });
    res.log_dropped = r->log.dropped();
    res.seconds = r->seconds;
    res.bytes_acknowledged = r->state.bytes_acknowledged;
    res.link = r->link.setup;
    res.retries = r->link.retries;
    res.blocks_acknowledged = r->link.turnarounds.count() - r->link.retries;
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
