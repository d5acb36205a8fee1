// The entry handshake of each protocol variant, over the timed serial operations.
#pragma once

#include <cstdint>

#include "package/package.h"
#include "serial/timed_io.h"

namespace protocol {

// Switches the printer into update mode with the exchange of the package's variant. `work` is
// the reply buffer (at least kLongestFrame bytes). true on success; on failure reply_count is the
// count of the block read that failed and `work` starts with what it read.
bool entry_handshake(serial::Line& line, const package::Record& pkg, std::uint8_t* work, std::int32_t& reply_count);

}  // namespace protocol
