// What the operator reads, put together once for both front ends: the log line as the dialog's
// log list shows it, and the texts both programs show beside their log.
#pragma once

#include <cstddef>
#include <ctime>

#include "update/platform.h"
#include "update/run.h"

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

// Room for a failure told in words: a 256-byte system reason or 48 received bytes written out.
inline constexpr std::size_t kFailureTextSize = 512;

// Where and why a run ended short, in words for the operator and a script's log: "block 200 of
// 1242: no reply within 5 s", "entry handshake: unexpected reply 0x06 0x30 0x31", "stopped
// during the closing reply", "port not opened: <reason>". "" for a run that finished.
void describe_failure(const Failure& failure, char* dst, std::size_t cap);

// What the printer sent, as it appears in describe_failure: the handshake's bytes as "0xHH"
// entries, a reply line as quoted text with other than printable ASCII written "\xHH", and "..."
// where more came than was kept.
void received_text(const Failure& failure, char* dst, std::size_t cap);

// Short names for scripts: "open", "query", "handshake", "announce", "block", "closing" ("" for
// none); "not_opened", "no_reply", "unexpected_reply", "send_failed", "stopped" ("" for none).
const char* phase_name(Phase phase);
const char* cause_name(Cause cause);

}  // namespace update
