// The operating system's side of the production log: appending one line to a file that several
// updaters may share, and the local date and time. file_append_win32.cpp and
// file_append_posix.cpp implement these; the program's Platform forwards to them.
#pragma once

#include <cstddef>

#include "update/platform.h"

namespace update {

// A line that cannot be appended at once is tried again for about this long: a file another
// program holds (a spreadsheet that opened sn_build.txt) is often let go within moments.
inline constexpr int kAppendAttempts = 9;
inline constexpr int kAppendPauseMs = 250;

// Opens `name` for appending only (created when missing; other writers may append at the same
// time), writes the n bytes with one write request and closes it again. true when the whole line
// is in the file; otherwise, after the attempts above, false with the reason in `why` (why_cap
// bytes, plain words such as "the file is in use by another program").
bool append_file(const char* name, const char* data, std::size_t n, char* why, std::size_t why_cap);

// The same, with the line on the disk before it returns (a record that must survive a crash or a
// pulled plug whole).
bool append_file_durable(const char* name, const char* data, std::size_t n, char* why, std::size_t why_cap);

// Whether `name` can be opened for appending, as append_file opens it (a missing file is created,
// nothing is written); one attempt. false with the reason in `why` when it cannot.
bool can_append(const char* name, char* why, std::size_t why_cap);

// The local date and time now.
LocalTime local_time_now();

// What each platform supplies to the append above (file_append.cpp holds its attempts).
namespace platform_append {
// One attempt: 0 when the whole line is in the file, else the system's error code; `partial`
// when part of the line went in, which a second attempt would only repeat.
long append_once(const char* name, const char* data, std::size_t n, bool durable, bool& partial);
// The system's error code in plain words.
void reason_text(long error, char* why, std::size_t cap);
void pause_ms(int ms);
}  // namespace platform_append

}  // namespace update
