// The production log: one line "serial;log tag;MM/DD/YY HH:MM:SS\r\n" appended to sn_build.txt
// after every successful update.
#pragma once

#include <cstddef>

#include "package/package.h"
#include "update/platform.h"
#include "update/run.h"

namespace update {

inline constexpr char kProductionLogFile[] = "sn_build.txt";

// Composes the line into out (cap bytes, terminated); returns its length.
std::size_t format_production_line(const char* serial_number, const package::Record& pkg, const LocalTime& t,
                                   char* out, std::size_t cap);

// Composes the line in state.text and appends it to `file_name`; true when the whole line is in
// the file, otherwise false with the reason in `why` (why_cap bytes).
bool write_production_log(RunState& state, const package::Record& pkg, Platform& platform, const char* file_name,
                          char* why, std::size_t why_cap);

// The run's log line for a line that could not be written:
// "Production log not written: <file> (<why>)." into dst (cap bytes).
void format_not_written(const char* file_name, const char* why, char* dst, std::size_t cap);

}  // namespace update
