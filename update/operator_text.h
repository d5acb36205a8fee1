// What the operator reads, put together once for both front ends: the log line as the dialog's
// log list shows it, and the texts both programs show beside their log.
#pragma once

#include <cstddef>
#include <ctime>

#include "update/platform.h"

namespace update {

// What START says when the program carries an empty package.
inline constexpr char kNoPackageText[] = "No data found in file.";
// The log line and the error box when the chosen port cannot be opened.
inline constexpr char kPortErrorText[] = "Error opening serial port.";

// The dialog's formatted-print routine that composes a log line writes at most 1024 bytes.
inline constexpr std::size_t kLogLineSize = 1024;
inline constexpr std::size_t kClockTextSize = 64;

// The local time as the "C" locale's time representation, HH:MM:SS.
void clock_text(const std::tm& local, char* dst, std::size_t cap);

// "<clock> - <text>" cut to fit kLogLineSize with its terminator; a null or empty text gives an
// empty line without a time.
void log_line_text(const char* clock, const char* text, char* dst, std::size_t cap);

// The whole log line for `text` logged at the local time given.
void format_log_line(const std::tm& local, const char* text, char* dst, std::size_t cap);
void format_log_line(const LocalTime& local, const char* text, char* dst, std::size_t cap);

}  // namespace update
