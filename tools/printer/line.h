// The virtual printer's end of the line: a pty master, with a symlink to its slave when one is
// asked for, or a serial device; raw either way, and written whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace printer {

struct Line {
  int fd = -1;
  bool pty = false;
  std::string slave;  // pty slave path
  std::string link;   // symlink we made
};

// A new pty, raw from the start; `link`, when not empty, is made a symlink to its slave (an
// existing symlink there is replaced, any other file is not). False when that fails, with the
// reason on stderr for the link.
bool open_pty(Line& l, const std::string& link);

// A serial device, raw at `baud`. False when it cannot be opened or set up; errno tells why.
bool open_device(Line& l, const std::string& path, std::uint32_t baud);

// Closes the line, and removes the symlink made to its pty while it still leads there.
void close_line(Line& l);

// Writes all n bytes, unless the peer has gone: then the rest is lost as on a cut line.
void write_all(int fd, const char* p, std::size_t n);

}  // namespace printer
