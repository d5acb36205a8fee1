#include "cli/run_ports.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "cli/console.h"
#include "cli/console_observer.h"
#include "update/run.h"

namespace cli {

namespace {

// Everything one run touches but the package record, which every run only reads.
struct PortRun {
  PortRun(const package::Record& pkg, const std::string& port_name, std::size_t index, bool prefixed,
          const UpdateRequest& request, Output& out)
      : record(pkg),
        port(port_name),
        prefix(prefixed ? port_name + ": " : std::string()),
        platform(make_platform(state, link)),
        observer(out, index, port.c_str(), prefix.c_str(), package::image_length(pkg), log, link),
        request{port.c_str(), request.speed, request.log_file.c_str()} {}

  void run() {
    const auto start = std::chrono::steady_clock::now();
    result = update::run_update(request, observer, *platform, state, record);
    observer.run_over(result);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  const package::Record& record;
  update::RunState state;
  LogStore log;
  LinkRecord link;
  std::string port;
  std::string prefix;
  std::unique_ptr<ConsolePlatform> platform;
  ConsoleObserver observer;
  const update::RunRequest request;
  update::RunResult result;
  double seconds = 0;
};

}  // namespace

PortResult port_result(const std::string& port, const std::string& device, const update::RunResult& run,
                       const LinkRecord& link, const LogStore& log, double seconds) {
  PortResult r;
  r.port = port;
  r.device = device;
  r.run = run;
  log.each([&r](const char* line) { r.log.emplace_back(line); });
  r.log_dropped = log.dropped();
  r.seconds = seconds;
  r.link = link.setup;
  r.retries = link.retries;
  const Turnarounds& t = link.turnarounds;
  r.verdicts = t.count();
  r.blocks_acknowledged = r.verdicts - r.retries;
  r.turnaround_median_ms = t.percentile_ms(50);
  r.turnaround_p95_ms = t.percentile_ms(95);
  r.turnaround_max_ms = t.max_ms();
  return r;
}

std::vector<PortResult> run_ports(const UpdateRequest& request, const package::Record& pkg, Output& out) {
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
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const PortRun& r = *runs[i];
    const std::string& device = i < request.devices.size() ? request.devices[i] : r.port;
    results.push_back(port_result(r.port, device, r.result, r.link, r.log, r.seconds));
  }
  return results;
}

}  // namespace cli
