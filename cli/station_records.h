// What a station remembers and writes down: which printers it already updated with this package
// (from its results file and the production log, read when it starts), whether the printer on a
// port is still there, and one record per attempt, appended to the results file as one JSON line.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "cli/run_ports.h"

namespace cli::station {

// The printers already updated with this package, by serial number, and when.
class Guard {
 public:
  Guard(std::string image_sha256, std::string log_tag) : sha_(std::move(image_sha256)), tag_(std::move(log_tag)) {}

  // Takes every finished update with this package's image from the results file's lines (JSON
  // Lines) and every line with this package's log tag from the production log's. A line that
  // cannot be read is skipped; the returned warnings say which.
  std::vector<std::string> load_results(const std::string& text, const std::string& file_name);
  std::vector<std::string> load_production_log(const std::string& text, const std::string& file_name);

  // When `serial` was updated with this package; "" when it was not (or has no serial number).
  std::string updated_at(const std::string& serial) const;
  void note(const std::string& serial, const std::string& when);
  std::size_t size() const;

 private:
  const std::string sha_;
  const std::string tag_;
  mutable std::mutex mutex_;
  std::map<std::string, std::string> updated_;
};

// Whether the printer a port updated is still there, from the answers to the queries that follow:
// it is gone after kMisses unanswered queries in a row, and a different serial number is the next
// printer.
class Presence {
 public:
  static constexpr int kMisses = 3;
  enum class Step { kStillThere, kGone, kNext };

  explicit Presence(std::string serial) : serial_(std::move(serial)) {}
  // One query's answer: the serial number, "" for none.
  Step answer(const std::string& serial);

 private:
  const std::string serial_;
  int misses_ = 0;
};

// One attempt at one printer.
struct Attempt {
  std::string host;
  std::string port;
  std::string device;
  std::string serial_number;  // "" for none
  std::string started;        // UTC, ISO 8601 with milliseconds
  std::string ended;
  std::string outcome;        // "finished", "failed", "stopped" or "skipped"
  std::string updated_at;     // skipped: when the printer was updated before
  const PortResult* run = nullptr;  // the update run, for every outcome but "skipped"
  std::string version;
  std::string image_sha256;
  std::string production_log;  // its path
};

inline constexpr int kSchemaVersion = 1;

// The record as one JSON object, with the field names of update's JSON where they overlap.
nlohmann::ordered_json attempt_json(const Attempt& a);

// The time now as "2026-12-11T10:02:49.123Z", and a time of that form as shown to an operator
// in local time ("08:14"); the text as given where it is not of that form.
std::string utc_now();
std::string local_clock(const std::string& when);

}  // namespace cli::station
