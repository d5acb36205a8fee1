#include "tools/printer/summary.h"

#include "tools/replace_file.h"

namespace printer {
namespace {

using nlohmann::json;

const char* power_name(Power p) {
  switch (p) {
    case Power::kWaiting: return "waiting";
    case Power::kOn: return "on";
    case Power::kOff: return "off";
  }
  return "";
}

}  // namespace

bool write_summary(const std::string& path, const json& updates, const std::vector<PrinterRecord>* printers) {
  json doc = {{"updates", updates}};
  if (printers != nullptr) {
    json list = json::array();
    for (std::size_t i = 0; i < printers->size(); ++i) {
      const PrinterRecord& p = (*printers)[i];
      list.push_back({{"number", i + 1},
                      {"serial", p.serial},
                      {"faulty", p.faulty},
                      {"state", power_name(p.power)},
                      {"outcome", p.outcome},
                      {"attempts", p.attempts},
                      {"bytes", p.stats.bytes},
                      {"blocks", p.stats.blocks},
                      {"retries", p.stats.retries}});
    }
    doc["printers"] = list;
  }
  const std::string text = doc.dump(2) + "\n";
  return tools::replace_file(path, text.data(), text.size()) == tools::Replaced::kDone;
}

}  // namespace printer
