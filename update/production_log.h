// The production log: one line "serial;log tag;MM/DD/YY HH:MM:SS\r\n" appended to sn_build.txt
// after every successful update.
#pragma once

#include <cstddef>

#include "package/package.h"
#include "update/platform.h"
#include "update/run_state.h"

namespace update {

inline constexpr char kProductionLogFile[] = "sn_build.txt";

// Composes the line into out (cap bytes, terminated); returns its length.
std::size_t format_production_line(const char* serial_number, const package::Record& pkg, const LocalTime& t,
                                   char* out, std::size_t cap);

// Composes the line in state.text and appends it to `file_name`; whether the file was opened.
bool write_production_log(RunState& state, const package::Record& pkg, Platform& platform, const char* file_name);

}  // namespace update
