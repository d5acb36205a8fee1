// The identification query (the printer's serial number) and the entry handshake of each
// protocol variant, over the timed serial operations.
#pragma once

#include <cstddef>
#include <cstdint>

#include "package/package.h"
#include "serial/timed_io.h"

namespace protocol {

inline constexpr std::size_t kSerialNumberSize = 128;
inline constexpr std::size_t kQueryBufferSize = 260;

// Empties serial_number (kSerialNumberSize bytes) and, for variants 0, 1 and 4, asks the printer
// for it. 1 on success with the serial number stored, else 0. A reply whose data arrived whole is
// read to its end (checksum characters and LF, within the reply timeout), so that nothing of it
// is left on the line for the entry handshake, however late a USB adapter delivers it.
int identification_query(serial::Line& line, const package::Record& pkg, char* serial_number);

// Switches the printer into update mode with the exchange of the package's variant. `work` is
// the reply buffer (at least kLongestFrame bytes). 1 on success; on failure reply_count is the
// count of the block read that failed and `work` starts with what it read.
int entry_handshake(serial::Line& line, package::Record& pkg, std::uint8_t* work, std::int32_t& reply_count);

}  // namespace protocol
