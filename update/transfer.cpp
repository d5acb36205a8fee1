// The image transfer. The printer, already in update mode, is told the version, the image length
// and the block size in one text line; then every block of at most 528 bytes goes out followed by
// its CRC-16, and the printer's verdict ("OK" or "RETRY") is awaited before the next one; at the
// end the printer's "WAIT" says it has taken the image and will turn itself off.
#include "update/transfer.h"

#include <cstdio>

#include "package/protocol_constants.h"
#include "update/crc16.h"

namespace update {

namespace {

constexpr std::uint32_t kProgressMax = 100;  // the progress bar's default range is 0..100
constexpr std::size_t kCrcBytes = 2;

constexpr char kLogErrorSending[] = "Error sending data.";
constexpr char kLogBadAnnounceReply[] = "Bad printer response or timeout.";
constexpr char kLogStopped[] = "Process stopped.";
constexpr char kLogBadClosingReply[] = "Bad printer response.";
constexpr char kLogTurningOff[] = "PLEASE WAIT UNTIL THE DEVICE TURNS OFF";

// Whether the reply line that line_read counted `count` bytes of begins with `word`. The word
// must have arrived in this reply: bytes left in the buffer by an earlier, longer reply do not
// complete a cut-off one.
bool begins_with(const char* reply, std::int32_t count, const char* word) {
  const std::size_t n = package::reply_word_length(word);
  return count > 0 && static_cast<std::size_t>(count) >= n && serial::reply_match(reply, word, n);
}

// Logs the reply line as text, cut at its first CR or LF; an empty reply logs an empty line.
void log_reply(RunObserver& observer, char* reply, std::int32_t count) {
  serial::reply_cut(reply, count);
  observer.log_line(reply);
}

Outcome fail(RunState& state, RunObserver& observer, const char* text, Outcome outcome) {
  state.stop_request = 1;
  observer.log_line(text);
  return outcome;
}

// The progress bar's position after `done` of `length` bytes: done / (length / 100). An image
// below 100 bytes would divide by 0, so the divisor is at least 1; and because length / 100
// truncates, the quotient can pass 100, so it is held at 100.
std::uint32_t progress_position(std::uint32_t length, std::uint32_t done) {
  std::uint32_t divisor = length / kProgressMax;
  if (divisor == 0) divisor = 1;
  const std::uint32_t pos = done / divisor;
  return pos > kProgressMax ? kProgressMax : pos;
}

// Notes where the transfer ended and what the printer sent, if anything.
void note(Failure* failure, Phase phase, Cause cause, const RunState& state, const char* reply, std::int32_t got) {
  if (failure == nullptr) return;
  failure->phase = phase;
  failure->cause = cause;
  failure->reply_timeout = state.reply_timeout;
  if (cause == Cause::kRefused && got <= 0) failure->cause = Cause::kNoReply;
  keep_received(*failure, reply, failure->cause == Cause::kRefused ? got : 0);
}

// Which block the transfer is at, for a failure in the block loop.
void note_block(Failure* failure, std::uint32_t length, std::uint32_t remaining) {
  if (failure == nullptr) return;
  failure->blocks = block_count(length);
  const std::uint32_t done = (length - remaining) / kBlockSize;
  failure->block = done < failure->blocks ? done + 1 : failure->blocks;
}

}  // namespace

std::uint32_t block_count(std::uint32_t image_length) { return (image_length + kBlockSize - 1) / kBlockSize; }

std::int32_t build_announce_line(const package::Record& pkg, char* out) {
  // The version text has at most 255 characters and the length at most 10 digits, so the line
  // always fits the buffer; the bound is kept all the same.
  const int n = std::snprintf(out, kAnnounceBufferSize, "%s;%lu;%lu;\r\n", package::version_text(pkg),
                              static_cast<unsigned long>(package::image_length(pkg)),
                              static_cast<unsigned long>(kBlockSize));
  if (n < 0) return 0;
  return static_cast<std::size_t>(n) < kAnnounceBufferSize ? n : static_cast<std::int32_t>(kAnnounceBufferSize - 1);
}

Outcome transfer_image(serial::Line& line, RunState& state, const package::Record& pkg, RunObserver& observer,
                       char* reply, Failure* failure) {
  const std::uint32_t length = package::image_length(pkg);
  const std::uint8_t* next = package::image(pkg);
  std::uint32_t remaining = length;
  state.bytes_acknowledged = 0;

  // Announce.
  char announce[kAnnounceBufferSize];
  const std::int32_t announce_len = build_announce_line(pkg, announce);
  if (!serial::drained_write(line, announce, static_cast<std::uint32_t>(announce_len))) {
    note(failure, Phase::kAnnounce, Cause::kSendFailed, state, reply, 0);
    return fail(state, observer, kLogErrorSending, Outcome::kSendFailed);
  }
  std::int32_t got = serial::line_read(line, reply, serial::kReplyBufferSize);
  if (!begins_with(reply, got, package::kWordOk)) {
    note(failure, Phase::kAnnounce, Cause::kRefused, state, reply, got);
    fail(state, observer, kLogBadAnnounceReply, Outcome::kAnnounceRefused);
    log_reply(observer, reply, got);
    return Outcome::kAnnounceRefused;
  }
  observer.log_line(package::kWordOk);

  // Blocks, each awaited with its verdict before the next is sent.
  while (remaining != 0) {
    note_block(failure, length, remaining);
    if (state.run_active == 0) {  // STOP, or Cancel during the identification query
      note(failure, Phase::kBlock, Cause::kStopped, state, reply, 0);
      return fail(state, observer, kLogStopped, Outcome::kStopped);
    }
    const std::uint32_t n = remaining < kBlockSize ? remaining : kBlockSize;
    if (!serial::drained_write(line, next, n)) {
      note(failure, Phase::kBlock, Cause::kSendFailed, state, reply, 0);
      return fail(state, observer, kLogErrorSending, Outcome::kSendFailed);
    }
    const std::uint16_t crc = crc16(next, n);
    const std::uint8_t crc_bytes[kCrcBytes] = {static_cast<std::uint8_t>(crc & 0xFF),
                                               static_cast<std::uint8_t>(crc >> 8)};
    // Whatever arrived while the block went out is not the verdict on it.
    serial::discard_input(line);
    std::uint32_t written = 0;
    line.port.write(crc_bytes, kCrcBytes, written);  // a lost CRC shows up as a missing verdict

    got = serial::line_read(line, reply, serial::kReplyBufferSize);
    if (begins_with(reply, got, package::kWordOk)) {
      observer.block_answered(false);
      next += n;
      remaining -= n;
      state.bytes_acknowledged += n;
    } else if (begins_with(reply, got, package::kWordRetry)) {
      observer.block_answered(true);
      observer.log_line(package::kWordRetry);  // the same block goes out again
    } else {
      note(failure, Phase::kBlock, Cause::kRefused, state, reply, got);
      state.stop_request = 1;
      log_reply(observer, reply, got);
      return Outcome::kBlockRefused;
    }

    // The only point of the transfer at which the dialog's STOP can run.
    line.host.pump_one();
    observer.progress(progress_position(length, length - remaining), state.bytes_acknowledged);
  }

  // A STOP handled in the last pass ends the run without the closing reply.
  if (state.stop_request != 0) {
    note(failure, Phase::kBlock, Cause::kStopped, state, reply, 0);
    return Outcome::kStopped;
  }

  state.reply_timeout = package::kClosingReplyTimeout;
  got = serial::line_read(line, reply, serial::kReplyBufferSize);
  if (begins_with(reply, got, package::kWordWait)) {
    observer.log_line(package::kWordWait);
    observer.log_line("");
    observer.log_line(kLogTurningOff);
    observer.printer_turning_off();
    return Outcome::kFinished;
  }
  note(failure, Phase::kClosing, Cause::kRefused, state, reply, got);
  state.stop_request = 1;
  log_reply(observer, reply, got);
  observer.log_line(kLogBadClosingReply);
  return Outcome::kClosingRefused;
}

}  // namespace update
