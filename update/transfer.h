// The image transfer: announce line, CRC-16 protected blocks with OK/RETRY verdicts, and the
// closing WAIT.
#pragma once

#include <cstddef>
#include <cstdint>

#include "package/package.h"
#include "serial/timed_io.h"
#include "update/run.h"

namespace update {

inline constexpr std::uint32_t kBlockSize = 528;
// Room for the longest announce line: a 255-character version text and 18 more bytes.
inline constexpr std::size_t kAnnounceBufferSize = 256 + 18;

// "<version>;<image length>;528;\r\n" into out (kAnnounceBufferSize bytes); returns its length.
std::int32_t build_announce_line(const package::Record& pkg, char* out);

// The image's blocks of kBlockSize bytes, the last one possibly shorter.
std::uint32_t block_count(std::uint32_t image_length);

// Runs the whole exchange and reports it to the observer; raises state.stop_request on any
// failure. `reply` is the 1024-byte reply buffer. Returns kFinished when the printer answered
// "WAIT", kStopped when the run-active flag was found clear before a block or a stop request was
// raised in the last block's pass, else the failure; `failure`, where given, then says where and
// what came back.
Outcome transfer_image(serial::Line& line, RunState& state, const package::Record& pkg, RunObserver& observer,
                       char* reply, Failure* failure = nullptr);

}  // namespace update
