// The image transfer: announce line, CRC-16 protected blocks with OK/RETRY verdicts, and the
// closing WAIT.
#pragma once

#include <cstddef>
#include <cstdint>

#include "package/package.h"
#include "serial/timed_io.h"
#include "update/dialog_ops.h"
#include "update/run_state.h"

namespace update {

inline constexpr std::uint32_t kBlockSize = 528;
// Room for the longest announce line: a 255-character version text and 18 more bytes.
inline constexpr std::size_t kAnnounceBufferSize = 256 + 18;

// CRC-16/MCRF4XX: reflected 0x1021, initial 0xFFFF, no final XOR.
std::uint16_t crc16(const std::uint8_t* data, std::size_t n);

// "<version>;<image length>;528;\r\n" into out (kAnnounceBufferSize bytes); returns its length.
std::int32_t build_announce_line(const package::Record& pkg, char* out);

// Runs the whole exchange; reports through ops; raises state.stop_request on any failure.
// `reply` is the 1024-byte reply buffer.
void transfer_image(serial::Line& line, RunState& state, const package::Record& pkg, DialogOps& ops, char* reply);

}  // namespace update
