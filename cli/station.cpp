#include "cli/station.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "cli/console.h"
#include "cli/console_observer.h"
#include "cli/output.h"
#include "cli/result.h"
#include "cli/station_records.h"
#include "package/protocol_constants.h"
#include "protocol/identify.h"
#include "update/run.h"
#include "update/file_append.h"
#include "update/operator_text.h"

namespace cli::station {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kProbePause{200};   // between two queries of an armed port
constexpr std::chrono::milliseconds kAdapterRetry{2000};  // between two opens of a missing adapter
constexpr std::chrono::milliseconds kSlice{50};         // how often a pause looks at the stop
constexpr std::chrono::seconds kHeaderEvery{1};

void warn(const std::string& text) {
  const std::string line = "zorven-cli: " + text + "\n";
  write_err(line.data(), line.size());
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string seconds_text(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", s);
  return text;
}

std::string duration_text(std::chrono::seconds d) {
  const long s = static_cast<long>(d.count());
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, (s / 60) % 60, s % 60);
  return text;
}

// Everything the ports share.
class Station {
 public:
  Station(const Request& request, const package::Record& pkg, Output& out)
      : request(request), pkg(pkg), out(out), guard(request.image_sha256, std::string(package::log_tag(pkg).data,
                                                                                       package::log_tag(pkg).length)),
        host(host_name()), started(Clock::now()), last_seen_ms(0) {}

  bool should_end() const { return stop_requested() || done.load(); }

  // Waits up to `d`, ending early when the station ends.
  void pause(Clock::duration d) const {
    const Clock::time_point until = Clock::now() + d;
    while (!should_end() && Clock::now() < until) std::this_thread::sleep_for(kSlice);
  }

  void seen() { last_seen_ms.store(ms_since_start()); }
  std::int64_t ms_since_start() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
  }

  // One line of the station's own: an event off a terminal, or a JSON line for a line controller.
  void event(const std::string& port, const std::string& what, const std::string& serial, const std::string& text) {
    if (request.json_events) {
      nlohmann::ordered_json j;
      j["event"] = what;
      j["time"] = utc_now();
      j["port"] = port;
      j["serial_number"] = serial.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(serial);
      emit_json(j);
      return;
    }
    if (out.live()) return;
    const std::string line = utc_now() + " " + port + ": " + text;
    out.line(line.c_str());
  }

  void emit_json(const nlohmann::ordered_json& j) {
    const std::string line = j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    out.line(line.c_str());
  }

  // Appends the attempt to the results file, whole, on the disk before the port arms again.
  void record(const Attempt& a) {
    nlohmann::ordered_json j = attempt_json(a);
    const std::string line = j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    char why[update::kAppendReasonSize] = "";
    if (!update::append_file_durable(request.results_file.c_str(), line.data(), line.size(), why, sizeof why)) {
      lost_records.store(true);
      const std::string text = "zorven-cli: " + a.port + ": results file not written: " + request.results_file + " (" +
                               why + ")";
      out.err_line(text.c_str());
    }
    if (request.json_events) {
      j["event"] = "attempt";
      emit_json(j);
    }
  }

  void finished_one() {
    const std::uint32_t n = finished_total.fetch_add(1) + 1;
    if (request.count != 0 && n >= request.count) done.store(true);
  }

  const Request& request;
  const package::Record& pkg;
  Output& out;
  Guard guard;
  const std::string host;
  const Clock::time_point started;
  std::atomic<std::int64_t> last_seen_ms;
  std::atomic<std::uint32_t> finished_total{0};
  std::atomic<std::uint32_t> failed_total{0};
  std::atomic<std::uint32_t> skipped_total{0};
  std::atomic<bool> done{false};
  std::atomic<bool> lost_records{false};
};

// One port's loop.
class Port {
 public:
  Port(Station& station, std::size_t index, const std::string& name, const std::string& device)
      : station_(station), index_(index), name_(name), device_(device),
        platform_(make_platform(state_, link_)) {}

  void run() {
    std::string serial;  // a printer found while the last one was awaited to go
    while (!station_.should_end()) {
      if (serial.empty()) {
        if (protocol::has_query(station_.pkg.variant)) {
          serial = wait_for_printer();
          if (serial.empty()) continue;
        } else {
          attempt_without_query();
          continue;
        }
      }
      station_.seen();
      station_.event(name_, "detected", serial, "printer " + serial);
      const std::string earlier = station_.request.allow_repeat ? "" : station_.guard.updated_at(serial);
      if (!earlier.empty()) {
        skip(serial, earlier);
      } else if (!update(serial)) {
        return;  // the station is ending
      }
      serial = wait_until_gone(serial);
    }
  }

  std::uint32_t finished = 0;
  std::uint32_t failed = 0;
  std::uint32_t skipped = 0;
  const std::string& name() const { return name_; }

 private:
  enum class Probe { kNoAdapter, kNobody, kPrinter };

  // One identification query on a port opened for it; the serial number in `serial`.
  Probe probe(std::string& serial) {
    serial.clear();
    serial::Port* port = platform_->open_port(name_.c_str(), station_.request.speed);
    if (port == nullptr) {
      platform_->open_failure(reason_, sizeof reason_);
      return Probe::kNoAdapter;
    }
    state_.stop_request = 0;
    state_.reply_timeout = package::kQueryReplyTimeout;  // as the update run's own query
    serial::Line line{*port, platform_->host(), state_.reply_timeout, state_.stop_request, state_.text};
    protocol::identification_query(line, station_.pkg, state_.serial_number);
    port->close();
    serial = state_.serial_number;
    return serial.empty() ? Probe::kNobody : Probe::kPrinter;
  }

  void adapter_missing() {
    if (!adapter_missing_) {
      adapter_missing_ = true;
      station_.event(name_, "no_adapter", "", std::string("no adapter: ") + reason_);
    }
    show("no adapter");
    station_.pause(kAdapterRetry);
  }

  void adapter_present() {
    if (!adapter_missing_ && announced_) return;
    adapter_missing_ = false;
    announced_ = true;
    station_.event(name_, "armed", "", "armed, waiting for a printer");
  }

  // Armed: queries until a printer answers; "" when the station ends or the adapter is missing.
  std::string wait_for_printer() {
    std::string serial;
    switch (probe(serial)) {
      case Probe::kNoAdapter:
        adapter_missing();
        return "";
      case Probe::kNobody:
        adapter_present();
        show("waiting");
        station_.pause(kProbePause);
        return "";
      case Probe::kPrinter:
        adapter_present();
        return serial;
    }
    return "";
  }

  // Variants without the query: the update run itself looks for a printer.
  void attempt_without_query() {
    Attempt a = begin_attempt("");
    PortResult r = run_update(a);
    if (r.run.outcome == update::Outcome::kPortNotOpened) {
      std::snprintf(reason_, sizeof reason_, "%s", r.run.failure.reason);
      adapter_missing();
      return;
    }
    adapter_present();
    if (r.run.outcome == update::Outcome::kNoCommunication && !stop_requested()) {
      show("waiting");  // nobody answered: no printer yet, nothing to record
      station_.pause(kProbePause);
      return;
    }
    station_.seen();
    finish_attempt(a, r);
    // The printer turns itself off after its update; one that failed is taken again.
    station_.pause(kAdapterRetry);
  }

  Attempt begin_attempt(const std::string& serial) const {
    Attempt a;
    a.host = station_.host;
    a.port = name_;
    a.device = device_;
    a.serial_number = serial;
    a.started = utc_now();
    a.version = package::version_text(station_.pkg);
    a.image_sha256 = station_.request.image_sha256;
    a.production_log = station_.request.log_file;
    return a;
  }

  void skip(const std::string& serial, const std::string& earlier) {
    Attempt a = begin_attempt(serial);
    a.ended = a.started;
    a.outcome = "skipped";
    a.updated_at = earlier;
    station_.record(a);
    ++skipped;
    station_.skipped_total.fetch_add(1);
    const std::string text = "skipped " + serial + " (updated " + local_clock(earlier) + ")";
    station_.event(name_, "skipped", serial, text);
    show(text);
  }

  PortResult run_update(Attempt&) {
    log_.clear();
    link_.reset();
    ConsoleObserver observer(station_.out, index_ + 1, name_.c_str(), "", package::image_length(station_.pkg), log_,
                             link_, false);
    const update::RunRequest request{name_.c_str(), station_.request.speed, station_.request.log_file.c_str()};
    const Clock::time_point start = Clock::now();
    const update::RunResult run = update::run_update(request, observer, *platform_, state_, station_.pkg);
    observer.run_over(run);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return port_result(name_, device_, run, link_, log_, seconds);
  }

  // Records the attempt and tells the operator how it ended.
  void finish_attempt(Attempt& a, const PortResult& r) {
    a.ended = utc_now();
    a.outcome = status_name(r.status());
    if (a.serial_number.empty()) a.serial_number = r.serial_number();
    a.run = &r;
    station_.record(a);
    const std::string shown = a.serial_number.empty() ? std::string("printer") : a.serial_number;
    std::string text;
    if (r.status() == PortStatus::kFinished) {
      ++finished;
      station_.guard.note(a.serial_number, a.ended);
      station_.finished_one();
      text = "finished " + shown + " " + seconds_text(r.seconds);
      if (r.run.production_log.due && !r.run.production_log.written) {
        station_.lost_records.store(true);
        text += std::string(", production log not written (") + r.run.production_log.reason + ")";
      }
    } else {
      if (r.status() == PortStatus::kFailed) {
        ++failed;
        station_.failed_total.fetch_add(1);
      }
      char words[update::kFailureTextSize];
      update::describe_failure(r.run.failure, words, sizeof words);
      text = std::string(status_name(r.status())) + " " + shown + ": " + words;
    }
    station_.event(name_, a.outcome, a.serial_number, text);
    show(text);
  }

  // Updates the printer that answered; false when the station is ending.
  bool update(const std::string& serial) {
    Attempt a = begin_attempt(serial);
    show("updating " + serial);
    const PortResult r = run_update(a);
    if (r.run.outcome == update::Outcome::kPortNotOpened) {
      std::snprintf(reason_, sizeof reason_, "%s", r.run.failure.reason);
      adapter_missing();
      return !station_.should_end();
    }
    finish_attempt(a, r);
    return !stop_requested();
  }

  // Waits for the printer to stop answering; a different serial number answering is the next
  // printer, returned. "" when the printer has gone (or the adapter with it).
  std::string wait_until_gone(const std::string& serial) {
    Presence presence(serial);
    bool asked_to_remove = false;
    while (!station_.should_end()) {
      if (!protocol::has_query(station_.pkg.variant)) return "";
      std::string answer;
      if (probe(answer) == Probe::kNoAdapter) return "";
      switch (presence.answer(answer)) {
        case Presence::Step::kGone:
          station_.event(name_, "removed", serial, "printer " + serial + " gone");
          return "";
        case Presence::Step::kNext:
          station_.event(name_, "removed", serial, "printer " + serial + " gone");
          return answer;
        case Presence::Step::kStillThere:
          if (!answer.empty()) station_.seen();
          if (!answer.empty() && !asked_to_remove) {
            asked_to_remove = true;
            show_suffix(" - remove printer");
          }
          break;
      }
      station_.pause(kProbePause);
    }
    return "";
  }

  void show(const std::string& state) {
    last_state_ = state;
    show_suffix("");
  }
  void show_suffix(const std::string& suffix) {
    if (!station_.out.live()) return;
    char text[kLiveTextSize];
    std::snprintf(text, sizeof text, "%s %s%s  [%u/%u/%u]", name_.c_str(), last_state_.c_str(), suffix.c_str(),
                  finished, failed, skipped);
    station_.out.set_live(index_ + 1, text, true);
  }

  Station& station_;
  const std::size_t index_;
  const std::string name_;
  const std::string device_;
  update::RunState state_;
  LogStore log_;
  LinkRecord link_;
  std::unique_ptr<ConsolePlatform> platform_;
  char reason_[kReasonSize] = {};
  bool adapter_missing_ = false;
  bool announced_ = false;
  std::string last_state_ = "waiting";
};

std::string header_text(const Station& s) {
  const auto up = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - s.started);
  const double hours = std::chrono::duration<double>(up).count() / 3600.0;
  const unsigned done = s.finished_total.load();
  char text[kLiveTextSize];
  std::snprintf(text, sizeof text, "station: %u finished, %u failed, %u skipped, %.1f/h, up %s", done,
                s.failed_total.load(), s.skipped_total.load(), hours > 0 ? done / hours : 0.0,
                duration_text(up).c_str());
  return text;
}

void show_summary(Station& s, const std::vector<std::unique_ptr<Port>>& ports, bool to_err) {
  std::size_t width = 4;
  for (const auto& p : ports) width = p->name().size() > width ? p->name().size() : width;
  auto say = [&](const std::string& line) {
    if (to_err) {
      const std::string l = line + "\n";
      write_err(l.data(), l.size());
    } else {
      s.out.line(line.c_str());
    }
  };
  char row[512];
  std::snprintf(row, sizeof row, "%-*s  %8s  %6s  %7s", static_cast<int>(width), "PORT", "FINISHED", "FAILED",
                "SKIPPED");
  say(row);
  for (const auto& p : ports) {
    std::snprintf(row, sizeof row, "%-*s  %8u  %6u  %7u", static_cast<int>(width), p->name().c_str(), p->finished,
                  p->failed, p->skipped);
    say(row);
  }
  say(header_text(s));
}

}  // namespace

std::string default_results_file(const std::string& log_file) {
  const std::size_t slash = log_file.find_last_of("/\\");
  const std::string dir = slash == std::string::npos ? std::string() : log_file.substr(0, slash + 1);
  return dir + "zorven-results.ndjson";
}

int run(const Request& request, const package::Record& pkg) {
  Output out(output_is_terminal() && !request.json_events, request.ports.size() + 1);
  Station station(request, pkg, out);

  // What the station already did with this package: its own results, and the production log it
  // shares with any other station.
  for (const std::string& w : station.guard.load_results(read_file(request.results_file), request.results_file))
    warn("warning: " + w);
  for (const std::string& w : station.guard.load_production_log(read_file(request.log_file), request.log_file))
    warn("warning: " + w);
  if (!protocol::has_query(pkg.variant)) {
    warn("protocol variant " + std::to_string(pkg.variant) +
         " asks no serial number: a printer cannot be kept from a second update, and one that failed and is left "
         "on is updated again");
  }

  install_stop_handler();
  std::vector<std::unique_ptr<Port>> ports;
  for (std::size_t i = 0; i < request.ports.size(); ++i)
    ports.push_back(std::make_unique<Port>(station, i, request.ports[i], request.devices[i]));
  out.set_live(0, header_text(station).c_str(), true);
  std::vector<std::thread> threads;
  std::atomic<std::size_t> running{ports.size()};
  for (auto& p : ports) {
    threads.emplace_back([&running, port = p.get()] {
      port->run();
      running.fetch_sub(1);
    });
  }
  // The header and the idle limit, once a second, until every port's loop is over.
  Clock::time_point next_header = Clock::now();
  while (running.load() > 0) {
    std::this_thread::sleep_for(kSlice);
    if (request.idle_seconds != 0 &&
        station.ms_since_start() - station.last_seen_ms.load() >= static_cast<std::int64_t>(request.idle_seconds) * 1000)
      station.done.store(true);
    if (Clock::now() >= next_header) {
      next_header += kHeaderEvery;
      out.set_live(0, header_text(station).c_str(), false);
    }
  }
  for (std::thread& t : threads) t.join();
  out.set_live(0, header_text(station).c_str(), true);
  out.end_live();
  show_summary(station, ports, request.json_events);

  if (station.lost_records.load()) return kExitNotRecorded;
  return stop_requested() ? kExitStopped : kExitFinished;
}

}  // namespace cli::station
