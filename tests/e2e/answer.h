// The driver's answers: one JSON object on a line of its own on stdout, for every command.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace driver {

using nlohmann::json;

// Prints `answer` on its line and returns `rc`, the command's exit status.
int reply(const json& answer, int rc = 0);
// `answer` with "ok": true.
int reply_ok(json answer = json::object());
// {"ok": false, "error": what}.
int reply_error(const char* what, int rc = 1);

// Texts as a JSON array of UTF-8 strings.
json texts(const std::vector<std::wstring>& v);

}  // namespace driver
