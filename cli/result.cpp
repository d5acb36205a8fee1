#include "cli/result.h"

#include <cstdio>

#include "update/operator_text.h"

namespace cli {

namespace {

constexpr std::size_t kOutcomeWidth = 8;  // "finished", "stopped ", "failed  "

bool not_recorded(const PortResult& r) {
  return r.run.production_log.due && !r.run.production_log.written;
}

std::string failure_words(const update::Failure& f) {
  char text[update::kFailureTextSize];
  update::describe_failure(f, text, sizeof text);
  return text;
}

std::string padded(const std::string& s, std::size_t width) {
  return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

// What the run got back where it failed: null when nothing, else as the failure's words show it.
nlohmann::ordered_json received_json(const update::Failure& f) {
  if (f.cause != update::Cause::kRefused) return nullptr;
  char text[update::kFailureTextSize];
  update::received_text(f, text, sizeof text);
  return text;
}

}  // namespace

nlohmann::ordered_json failure_json(const update::Failure& f) {
  if (f.cause == update::Cause::kNone) return nullptr;
  nlohmann::ordered_json j;
  j["phase"] = update::phase_name(f.phase);
  j["cause"] = update::cause_name(f.cause);
  if (f.phase == update::Phase::kBlock) {
    j["block"] = f.block;
    j["blocks"] = f.blocks;
  }
  j["reply_timeout_s"] = f.cause == update::Cause::kNoReply ? nlohmann::ordered_json(f.reply_timeout) : nullptr;
  j["received"] = received_json(f);
  j["text"] = failure_words(f);
  return j;
}

nlohmann::ordered_json production_log_json(const update::ProductionLogWrite& w, const std::string& path) {
  nlohmann::ordered_json j;
  j["path"] = path;
  j["written"] = w.written;
  j["error"] = w.due && !w.written ? nlohmann::ordered_json(w.reason) : nullptr;
  return j;
}

// What the station knows of the line: the adapter's latency timer (null where the system shows
// none), whether low latency was granted, each block's wait for its verdict (null before the
// first verdict) and the RETRY verdicts.
nlohmann::ordered_json link_json(const PortResult& r) {
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

std::string final_line(const PortResult& r, std::size_t port_width) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f s", r.seconds);
  std::string line = padded(r.port, port_width) + "  " + padded(status_name(r.status()), kOutcomeWidth) + "  " +
                     (r.serial_number()[0] == '\0' ? std::string("-") : std::string(r.serial_number())) + "  " + seconds;
  const std::string why = failure_words(r.run.failure);
  if (!why.empty()) line += "  " + why;
  if (not_recorded(r)) line += std::string("  production log not written (") + r.run.production_log.reason + ")";
  return line;
}

std::string serial_warning(const PortResult& r) {
  if (r.status() != PortStatus::kFinished || r.serial_number()[0] != '\0') return "";
  return r.port + ": warning: the printer gave no serial number; its production log line has an empty serial field";
}

nlohmann::ordered_json port_json(const PortResult& r, const std::string& production_log) {
  nlohmann::ordered_json j;
  j["port"] = r.port;
  j["device"] = r.device;
  j["serial_number"] = r.serial_number();
  j["outcome"] = status_name(r.status());
  j["failure"] = failure_json(r.run.failure);
  j["production_log"] = production_log_json(r.run.production_log, production_log);
  j["log"] = r.log;
  if (r.log_dropped != 0) j["log_lines_dropped"] = r.log_dropped;
  if (r.run.failure.cause == update::Cause::kNotOpened) j["error"] = r.run.failure.reason;
  j["seconds"] = r.seconds;
  j["bytes_acknowledged"] = r.run.bytes_acknowledged;
  j["link"] = link_json(r);
  return j;
}

int exit_status(const std::vector<PortResult>& results, bool stopped) {
  bool failed = false;
  for (const PortResult& r : results) {
    if (not_recorded(r)) return kExitNotRecorded;
    if (r.status() != PortStatus::kFinished) failed = true;
  }
  if (stopped) return kExitStopped;
  return failed ? kExitFailed : kExitFinished;
}

std::string results_json_text(const std::vector<PortResult>& results, const std::string& production_log) {
  nlohmann::ordered_json all = nlohmann::ordered_json::array();
  for (const PortResult& r : results) all.push_back(port_json(r, production_log));
  return all.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

int exit_status_without_json(const std::vector<PortResult>& results, int status) {
  for (const PortResult& r : results)
    if (r.status() == PortStatus::kFinished) return kExitNotRecorded;
  return status == kExitFinished ? kExitFailed : status;
}

}  // namespace cli
