// Timed serial I/O: the five operations every exchange with the printer goes through.
// Both reads are bounded by the reply timeout (whole seconds on the calendar clock, counted from
// the start of the read) on top of the port's own request time-outs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/host.h"
#include "serial/port.h"

namespace serial {

inline constexpr std::size_t kDrainAreaSize = 4096;   // the shared text buffer
inline constexpr std::size_t kReplyBufferSize = 1024;  // the update run's reply buffer

// An open line as one update run uses it. The run owns the values referred to here; the timed
// operations only read them.
struct Line {
  Port& port;
  Host& host;
  const std::int32_t& reply_timeout;   // whole seconds, compared as elapsed >= timeout
  const std::uint32_t& stop_request;   // looked at by the block read after an idle request
  char* drain_area;                    // kDrainAreaSize bytes; overwritten by every drain
};

// Discards whatever input is waiting (in requests of at most kDrainAreaSize bytes).
void discard_input(Line& line);

// Discards waiting input, then writes n bytes in one request; true when all n were written.
bool drained_write(Line& line, const void* data, std::uint32_t n);

// Reads one reply line into dst (capacity `cap`, the reply buffer): up to LF, or CR and the byte
// after it, or the reply timeout. Returns the bytes stored before the end of the line (never the
// CR, LF or byte after CR); 0 when nothing usable arrived. dst is not cleared first. Nothing is
// stored past dst[cap - 1], and the count leaves room for reply_cut's terminator.
std::int32_t line_read(Line& line, char* dst, std::size_t cap);

// Reads n bytes into dst, which is zeroed first; stores nothing past dst[n - 1]. Returns the
// running count (bytes received plus, per request, the position of its first LF), or n when a
// request failed. Pumps one message after each idle request and then returns if the stop request
// is raised.
std::int32_t block_read(Line& line, void* dst, std::uint32_t n);

// Terminates the first len bytes of area as text: at the first CR or LF, else at area[len].
// The area must hold len + 1 bytes.
void reply_cut(char* area, std::int32_t len);

// Whether the first n bytes of reply equal the first n bytes of word (case-sensitive).
bool reply_match(const char* reply, const char* word, std::size_t n);

}  // namespace serial
