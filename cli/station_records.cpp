#include "cli/station_records.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <sstream>

#include "cli/console.h"
#include "cli/result.h"

namespace cli::station {

namespace {

constexpr std::size_t kStampLength = 17;  // "MM/DD/YY HH:MM:SS"

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string line_warning(const std::string& file_name, std::size_t number, const char* why) {
  return file_name + ", line " + std::to_string(number) + ": " + why + "; skipped";
}

}  // namespace

std::vector<std::string> Guard::load_results(const std::string& text, const std::string& file_name) {
  std::vector<std::string> warnings;
  const std::vector<std::string> lines = lines_of(text);
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    const nlohmann::json j = nlohmann::json::parse(lines[i], nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
      warnings.push_back(line_warning(file_name, i + 1, "not a JSON object"));
      continue;
    }
    const auto outcome = j.find("outcome");
    const auto serial = j.find("serial_number");
    const auto package = j.find("package");
    if (outcome == j.end() || !outcome->is_string() || serial == j.end() || package == j.end() ||
        !package->is_object()) {
      warnings.push_back(line_warning(file_name, i + 1, "not an attempt record"));
      continue;
    }
    if (*outcome != "finished" || !serial->is_string() || serial->get<std::string>().empty()) continue;
    const auto sha = package->find("image_sha256");
    if (sha == package->end() || !sha->is_string() || *sha != sha_) continue;
    const auto ended = j.find("ended");
    updated_[serial->get<std::string>()] = ended != j.end() && ended->is_string() ? ended->get<std::string>() : "";
  }
  return warnings;
}

std::vector<std::string> Guard::load_production_log(const std::string& text, const std::string& file_name) {
  std::vector<std::string> warnings;
  const std::vector<std::string> lines = lines_of(text);
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& l = lines[i];
    if (l.empty()) continue;
    // "serial;tag;MM/DD/YY HH:MM:SS": the stamp and the tag from the end, for a serial number
    // that holds a ";" itself.
    const std::size_t stamp_at = l.rfind(';');
    const std::size_t tag_at = stamp_at == std::string::npos || stamp_at == 0 ? std::string::npos
                                                                                : l.rfind(';', stamp_at - 1);
    if (tag_at == std::string::npos || l.size() - stamp_at - 1 != kStampLength) {
      warnings.push_back(line_warning(file_name, i + 1, "not a production log line"));
      continue;
    }
    const std::string serial = l.substr(0, tag_at);
    if (serial.empty() || l.compare(tag_at + 1, stamp_at - tag_at - 1, tag_) != 0) continue;
    updated_.emplace(serial, l.substr(stamp_at + 1));
  }
  return warnings;
}

std::string Guard::updated_at(const std::string& serial) const {
  if (serial.empty()) return "";
  std::lock_guard<std::mutex> lock(mutex_);
  const auto at = updated_.find(serial);
  if (at == updated_.end()) return "";
  return at->second.empty() ? std::string("earlier") : at->second;
}

void Guard::note(const std::string& serial, const std::string& when) {
  if (serial.empty()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  updated_[serial] = when;
}

std::size_t Guard::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return updated_.size();
}

Presence::Step Presence::answer(const std::string& serial) {
  if (serial.empty()) return ++misses_ >= kMisses ? Step::kGone : Step::kStillThere;
  misses_ = 0;
  return serial == serial_ ? Step::kStillThere : Step::kNext;
}

nlohmann::ordered_json attempt_json(const Attempt& a) {
  nlohmann::ordered_json j;
  j["schema"] = kSchemaVersion;
  j["host"] = a.host;
  j["port"] = a.port;
  j["device"] = a.device;
  j["serial_number"] = a.serial_number.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(a.serial_number);
  j["started"] = a.started;
  j["ended"] = a.ended;
  j["outcome"] = a.outcome;
  if (a.run != nullptr) {
    const PortResult& r = *a.run;
    j["failure"] = failure_json(r.run.failure);
    j["bytes_acknowledged"] = r.run.bytes_acknowledged;
    j["blocks_acknowledged"] = r.blocks_acknowledged;
    j["retries"] = r.retries;
    j["link"] = link_json(r);
    j["production_log"] = production_log_json(r.run.production_log, a.production_log);
  } else {
    j["failure"] = nullptr;
    j["updated_at"] = a.updated_at;
    j["bytes_acknowledged"] = 0;
    j["blocks_acknowledged"] = 0;
    j["retries"] = 0;
    j["link"] = nullptr;
    j["production_log"] = production_log_json(update::ProductionLogWrite{}, a.production_log);
  }
  j["package"] = {{"version", a.version}, {"image_sha256", a.image_sha256}};
  return j;
}

std::string utc_now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const long ms = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm utc{};
  utc_time(t, utc);
  char text[96];  // room for any int the fields could hold
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, ms);
  return text;
}

std::string local_clock(const std::string& when) {
  int y, mo, d, h, mi, s;
  if (std::sscanf(when.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &y, &mo, &d, &h, &mi, &s) != 6) return when;
  std::tm utc{};
  utc.tm_year = y - 1900;
  utc.tm_mon = mo - 1;
  utc.tm_mday = d;
  utc.tm_hour = h;
  utc.tm_min = mi;
  utc.tm_sec = s;
  std::tm local{};
  if (!utc_to_local(utc, local)) return when;
  char text[96];
  std::snprintf(text, sizeof text, "%02d/%02d %02d:%02d", local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min);
  return text;
}

}  // namespace cli::station
