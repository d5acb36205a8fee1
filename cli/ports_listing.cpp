#include "cli/ports_listing.h"

namespace cli {

namespace {

std::string shown(const std::string& s) { return s.empty() ? std::string("-") : s; }

nlohmann::ordered_json text_or_null(const std::string& s) {
  return s.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(s);
}

std::vector<std::string> row_of(const PortInfo& p) {
  const bool ids = !p.vendor_id.empty() && !p.product_id.empty();
  return {p.port,          shown(p.device), ids ? p.vendor_id + ":" + p.product_id : "-", shown(p.serial_number),
          shown(p.driver), p.latency_timer_ms >= 0 ? std::to_string(p.latency_timer_ms) + " ms" : "-"};
}

}  // namespace

std::vector<std::string> ports_table(const std::vector<PortInfo>& ports) {
  std::vector<std::vector<std::string>> rows = {{"PORT", "DEVICE", "VID:PID", "SERIAL", "DRIVER", "LATENCY"}};
  for (const PortInfo& p : ports) rows.push_back(row_of(p));
  std::vector<std::size_t> width(rows[0].size(), 0);
  for (const auto& row : rows)
    for (std::size_t c = 0; c < row.size(); ++c)
      if (row[c].size() > width[c]) width[c] = row[c].size();
  std::vector<std::string> lines;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c + 1 < row.size(); ++c) line += row[c] + std::string(width[c] - row[c].size() + 2, ' ');
    lines.push_back(line + row.back());
  }
  return lines;
}

nlohmann::ordered_json ports_json(const std::vector<PortInfo>& ports) {
  nlohmann::ordered_json all = nlohmann::ordered_json::array();
  for (const PortInfo& p : ports) {
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
  return all;
}

}  // namespace cli
