// One update run: open the chosen port, ask the printer for its serial number, switch it into
// update mode, transfer the image, close the port, and record a successful update in the
// production log. Everything the operator learns goes through the front end's observer.
#include "update/run.h"

#include <cstdio>

#include "package/protocol_constants.h"
#include "protocol/handshake.h"
#include "protocol/identify.h"
#include "update/operator_text.h"
#include "update/production_log.h"
#include "update/transfer.h"

namespace update {

namespace {

constexpr std::size_t kDumpLineSize = 1016;
constexpr std::size_t kDumpEntrySize = 5;  // "0x" + two hex digits + space
// Whole entries that fit the dump line with its terminator; a longer count is dumped this far.
constexpr std::size_t kDumpEntriesMax = (kDumpLineSize - 1) / kDumpEntrySize;

constexpr char kLogStart[] = "Start...";
constexpr char kLogNoCommunication[] = "No communication.";
constexpr char kLogBadReceipt[] = "Bad Receipt: ";
constexpr char kLogFinished[] = "Process finished.";

// "0xHH " for each of the first `count` bytes, zeros included, as many as fit the line.
void format_dump(const std::uint8_t* bytes, std::int32_t count, char (&dump)[kDumpLineSize]) {
  std::size_t entries = static_cast<std::size_t>(count);
  if (entries > kDumpEntriesMax) entries = kDumpEntriesMax;
  if (entries > serial::kReplyBufferSize) entries = serial::kReplyBufferSize;
  dump[0] = 0;
  for (std::size_t i = 0; i < entries; ++i)
    std::snprintf(dump + i * kDumpEntrySize, kDumpLineSize - i * kDumpEntrySize, "0x%02X ", bytes[i]);
}

// The handshake has failed: say what came back, if anything.
Outcome report_handshake_failure(RunObserver& observer, const std::uint8_t* reply, std::int32_t count,
                                 Failure& failure) {
  failure.phase = Phase::kHandshake;
  if (count <= 0) {
    failure.cause = Cause::kNoReply;
    observer.log_line(kLogNoCommunication);
    return Outcome::kNoCommunication;
  }
  // The count can run ahead of the bytes that arrived; every counted position is kept, zeros
  // included, as the dump shows them.
  failure.cause = Cause::kRefused;
  keep_received(failure, reply, count);
  char dump[kDumpLineSize];
  format_dump(reply, count, dump);
  observer.log_line(kLogBadReceipt);
  observer.log_line(dump);
  return Outcome::kBadReceipt;
}

// Appends the finished update's production log line. A line that cannot be written does not undo
// the update, but it is not lost without a word: the run's log says so.
void record_update(RunState& state, const package::Record& pkg, Platform& platform, const char* file_name,
                   RunObserver& observer, ProductionLogWrite& record) {
  record.due = true;
  record.written = write_production_log(state, pkg, platform, file_name, record.reason, sizeof record.reason);
  if (record.written) return;
  format_not_written(file_name, record.reason, state.text, sizeof state.text);
  observer.log_line(state.text);
}

}  // namespace

namespace {

// The run from the open port on; the port is closed by the caller.
void run_on_port(serial::Port& port, const RunRequest& request, RunObserver& observer, Platform& platform,
                 RunState& state, const package::Record& pkg, RunResult& result) {
  serial::Line line{port, platform.host(), state.reply_timeout, state.stop_request, state.text};

  // The serial number only goes into the production log; a printer that does not answer is
  // still updated, with an empty serial number.
  state.reply_timeout = package::kQueryReplyTimeout;
  protocol::identification_query(line, pkg, state.serial_number);
  // A stop that arrived during the query ends the run at the handshake that follows; it belongs
  // to the query.
  const bool stopped_in_query = state.stop_request != 0;

  observer.after_query();
  state.reply_timeout = package::kHandshakeReplyTimeout;
  observer.before_transfer();

  std::uint8_t reply[serial::kReplyBufferSize] = {};
  std::int32_t reply_count = 0;
  Failure& failure = result.failure;
  Outcome outcome;
  if (protocol::entry_handshake(line, pkg, reply, reply_count)) {
    outcome = transfer_image(line, state, pkg, observer, reinterpret_cast<char*>(reply), &failure);
  } else {
    failure.reply_timeout = state.reply_timeout;
    outcome = report_handshake_failure(observer, reply, reply_count, failure);
    state.stop_request = 1;
  }

  port.close();

  if (state.stop_request == 0) {
    observer.log_line(kLogFinished);
    outcome = Outcome::kFinished;
    result.failure = Failure{};
    record_update(state, pkg, platform, request.production_log, observer, result.production_log);
  } else if (state.run_active == 0) {
    // Only STOP and Cancel clear the flag during a run: whatever failed after that, the run was
    // told to stop.
    outcome = Outcome::kStopped;
    failure.cause = Cause::kStopped;
    if (stopped_in_query) failure.phase = Phase::kQuery;
  }
  result.outcome = outcome;
}

void copy_text(char* dst, std::size_t cap, const char* src) {
  std::snprintf(dst, cap, "%s", src);
}

}  // namespace

RunResult run_update(const RunRequest& request, RunObserver& observer, Platform& platform, RunState& state,
                     const package::Record& pkg) {
  state.stop_request = 0;
  state.run_active = 1;
  state.serial_number[0] = '\0';
  state.bytes_acknowledged = 0;
  RunResult result;
  observer.log_line(kLogStart);

  serial::Port* port = platform.open_port(request.port_name, request.speed);
  if (port == nullptr) {
    observer.log_line(kPortErrorText);
    result.outcome = Outcome::kPortNotOpened;
    result.failure.phase = Phase::kOpen;
    result.failure.cause = Cause::kNotOpened;
    platform.open_failure(result.failure.reason, sizeof result.failure.reason);
  } else {
    run_on_port(*port, request, observer, platform, state, pkg, result);
    observer.log_line("");
  }
  state.run_active = 0;
  copy_text(result.serial_number, sizeof result.serial_number, state.serial_number);
  result.bytes_acknowledged = state.bytes_acknowledged;
  return result;
}

}  // namespace update
