// The identification query: the printer's serial number, over the timed serial operations.
#pragma once

#include <cstddef>
#include <cstdint>

#include "package/package.h"
#include "serial/timed_io.h"

namespace protocol {

inline constexpr std::size_t kSerialNumberSize = 128;
inline constexpr std::size_t kQueryBufferSize = 260;

// Whether the printers of this protocol variant answer the identification query (0, 1 and 4).
bool has_query(std::uint8_t variant);

// Empties serial_number (kSerialNumberSize bytes) and, for variants 0, 1 and 4, asks the printer
// for it. true when a serial number was stored. A reply whose data arrived whole is read to its
// end (checksum characters and LF, within the reply timeout), so that nothing of it is left on
// the line for the entry handshake, however late a USB adapter delivers it.
bool identification_query(serial::Line& line, const package::Record& pkg, char* serial_number);

}  // namespace protocol
