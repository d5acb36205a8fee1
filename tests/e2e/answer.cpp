#include "tests/e2e/answer.h"

#include <cstdio>

#include "tests/e2e/window_access.h"

namespace driver {

int reply(const json& answer, int rc) {
  std::printf("%s\n", answer.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
  return rc;
}

int reply_ok(json answer) {
  answer["ok"] = true;
  return reply(answer);
}

int reply_error(const char* what, int rc) { return reply({{"ok", false}, {"error", what}}, rc); }

json texts(const std::vector<std::wstring>& v) {
  json out = json::array();
  for (const auto& w : v) out.push_back(narrow(w));
  return out;
}

}  // namespace driver
