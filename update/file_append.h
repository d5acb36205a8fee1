// The operating system's side of the production log: appending one line to a file that several
// updaters may share, and the local date and time. file_append_win32.cpp and
// file_append_posix.cpp implement these; the program's Platform forwards to them.
#pragma once

#include <cstddef>

#include "update/platform.h"

namespace update {

// Opens `name` for appending only (created when missing; other writers may append at the same
// time), writes the n bytes with one write request and closes it again. false when the file
// cannot be opened; a failed or short write is not reported.
bool append_file(const char* name, const char* data, std::size_t n);

// The local date and time now.
LocalTime local_time_now();

}  // namespace update
