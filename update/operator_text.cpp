#include "update/operator_text.h"

#include <cstdio>
#include <cstring>

namespace update {

void clock_text(const std::tm& local, char* dst, std::size_t cap) {
  if (cap == 0) return;
  if (std::strftime(dst, cap, "%X", &local) == 0) dst[0] = '\0';
}

void log_line_text(const char* clock, const char* text, char* dst, std::size_t cap) {
  if (cap == 0) return;
  if (cap > kLogLineSize) cap = kLogLineSize;
  if (text == nullptr || text[0] == '\0') {
    dst[0] = '\0';
    return;
  }
  std::snprintf(dst, cap, "%s - %s", clock, text);
}

void format_log_line(const std::tm& local, const char* text, char* dst, std::size_t cap) {
  char clock[kClockTextSize] = "";
  clock_text(local, clock, sizeof clock);
  log_line_text(clock, text, dst, cap);
}

void format_log_line(const LocalTime& t, const char* text, char* dst, std::size_t cap) {
  std::tm local{};
  local.tm_year = t.year - 1900;
  local.tm_mon = t.month - 1;
  local.tm_mday = t.day;
  local.tm_hour = t.hour;
  local.tm_min = t.minute;
  local.tm_sec = t.second;
  format_log_line(local, text, dst, cap);
}

namespace {

// Appends to dst[0..cap) behind what it holds, never past its end.
void append(char* dst, std::size_t cap, std::size_t& used, const char* text) {
  if (used + 1 >= cap) return;
  const int n = std::snprintf(dst + used, cap - used, "%s", text);
  if (n > 0) used += static_cast<std::size_t>(n) < cap - used ? static_cast<std::size_t>(n) : cap - used - 1;
}

void where_text(const Failure& f, char* dst, std::size_t cap) {
  switch (f.phase) {
    case Phase::kOpen:
      std::snprintf(dst, cap, "port");
      return;
    case Phase::kQuery:
      std::snprintf(dst, cap, "identification query");
      return;
    case Phase::kHandshake:
      std::snprintf(dst, cap, "entry handshake");
      return;
    case Phase::kAnnounce:
      std::snprintf(dst, cap, "announce line");
      return;
    case Phase::kBlock:
      std::snprintf(dst, cap, "block %lu of %lu", static_cast<unsigned long>(f.block),
                    static_cast<unsigned long>(f.blocks));
      return;
    case Phase::kClosing:
      std::snprintf(dst, cap, "closing reply");
      return;
    case Phase::kNone:
      break;
  }
  if (cap > 0) dst[0] = '\0';
}

}  // namespace

void received_text(const Failure& f, char* dst, std::size_t cap) {
  if (cap == 0) return;
  dst[0] = '\0';
  std::size_t used = 0;
  const std::size_t count = f.received_count > 0 ? static_cast<std::size_t>(f.received_count) : 0;
  const std::size_t kept = count < kFailureBytesKept ? count : kFailureBytesKept;
  char one[8];
  if (f.phase == Phase::kHandshake) {
    for (std::size_t i = 0; i < kept; ++i) {
      std::snprintf(one, sizeof one, i == 0 ? "0x%02X" : " 0x%02X", f.received[i]);
      append(dst, cap, used, one);
    }
  } else {
    append(dst, cap, used, "\"");
    for (std::size_t i = 0; i < kept; ++i) {
      const std::uint8_t b = f.received[i];
      if (b >= 0x20 && b < 0x7F && b != '"' && b != '\\') {
        std::snprintf(one, sizeof one, "%c", b);
      } else {
        std::snprintf(one, sizeof one, "\\x%02X", b);
      }
      append(dst, cap, used, one);
    }
    append(dst, cap, used, "\"");
  }
  if (count > kept) append(dst, cap, used, " ...");
}

void describe_failure(const Failure& f, char* dst, std::size_t cap) {
  if (cap == 0) return;
  dst[0] = '\0';
  char where[64];
  where_text(f, where, sizeof where);
  switch (f.cause) {
    case Cause::kNotOpened:
      if (f.reason[0] != '\0') {
        std::snprintf(dst, cap, "port not opened: %s", f.reason);
      } else {
        std::snprintf(dst, cap, "port not opened");
      }
      return;
    case Cause::kNoReply:
      std::snprintf(dst, cap, "%s: no reply within %ld s", where, static_cast<long>(f.reply_timeout));
      return;
    case Cause::kRefused: {
      char received[kFailureTextSize];
      received_text(f, received, sizeof received);
      std::snprintf(dst, cap, "%s: unexpected reply %s", where, received);
      return;
    }
    case Cause::kSendFailed:
      std::snprintf(dst, cap, "%s: could not be sent", where);
      return;
    case Cause::kStopped:
      std::snprintf(dst, cap, f.phase == Phase::kBlock ? "stopped at %s" : "stopped during the %s", where);
      return;
    case Cause::kNone:
      return;
  }
}

const char* phase_name(Phase phase) {
  switch (phase) {
    case Phase::kOpen:
      return "open";
    case Phase::kQuery:
      return "query";
    case Phase::kHandshake:
      return "handshake";
    case Phase::kAnnounce:
      return "announce";
    case Phase::kBlock:
      return "block";
    case Phase::kClosing:
      return "closing";
    case Phase::kNone:
      break;
  }
  return "";
}

const char* cause_name(Cause cause) {
  switch (cause) {
    case Cause::kNotOpened:
      return "not_opened";
    case Cause::kNoReply:
      return "no_reply";
    case Cause::kRefused:
      return "unexpected_reply";
    case Cause::kSendFailed:
      return "send_failed";
    case Cause::kStopped:
      return "stopped";
    case Cause::kNone:
      break;
  }
  return "";
}

}  // namespace update
