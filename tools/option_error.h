// What the tools take from a CLI11 parse error to name the option it is about.
#pragma once

#include <string>

namespace tools {

// CLI11 reports a missing value as "--name: 1 required TEXT missing"; the option is what precedes
// the colon.
inline std::string option_of(const std::string& what) { return what.substr(0, what.find(':')); }

}  // namespace tools
