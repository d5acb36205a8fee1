// One update run: open the chosen port, ask the printer for its serial number, switch it into
// update mode, transfer the image, close the port, and record a successful update in the
// production log. Everything the operator learns goes through the dialog operations.
#include "update/driver.h"

#include <cstdio>

#include "protocol/handshake.h"
#include "update/production_log.h"
#include "update/transfer.h"

namespace update {

namespace {

constexpr std::int32_t kQueryReplyTimeout = 1;      // seconds; the query is skipped quickly when unanswered
constexpr std::int32_t kHandshakeReplyTimeout = 5;  // seconds, also for the transfer's block replies
constexpr std::size_t kDumpLineSize = 1016;
constexpr std::size_t kDumpEntrySize = 5;  // "0x" + two hex digits + space
// Whole entries that fit the dump line with its terminator; a longer count is dumped this far.
constexpr std::size_t kDumpEntriesMax = (kDumpLineSize - 1) / kDumpEntrySize;

constexpr char kLogStart[] = "Start...";
constexpr char kLogPortError[] = "Error opening serial port.";
constexpr char kLogNoCommunication[] = "No communication.";
constexpr char kLogBadReceipt[] = "Bad Receipt: ";
constexpr char kLogFinished[] = "Process finished.";

std::uint32_t chosen_speed(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= package::kSpeedCount) return package::kDefaultSpeed;
  return package::kSpeeds[index];
}

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
void report_handshake_failure(DialogOps& ops, const std::uint8_t* reply, std::int32_t count) {
  if (count <= 0) {
    ops.add_log_line(kLogNoCommunication);
    return;
  }
  char dump[kDumpLineSize];
  format_dump(reply, count, dump);
  ops.add_log_line(kLogBadReceipt);
  ops.add_log_line(dump);
}

}  // namespace

int run_update(DialogOps& ops, Platform& platform, RunState& state, package::Record& pkg) {
  state.stop_request = 0;
  ops.add_log_line(kLogStart);

  ops.port_text(state.text, sizeof state.text);
  serial::Port* port = platform.open_port(state.text, chosen_speed(ops.speed_index()));
  if (port == nullptr) {
    ops.add_log_line(kLogPortError);
    ops.error_box(kLogPortError);
    ops.set_controls_enabled(true);
    return 1;
  }
  serial::Line line{*port, platform.host(), state.reply_timeout, state.stop_request, state.text};

  // The serial number only goes into the production log; a printer that does not answer is
  // still updated, with an empty serial number.
  const std::int32_t saved_timeout = state.reply_timeout;
  state.reply_timeout = kQueryReplyTimeout;
  protocol::identification_query(line, pkg, state.serial_number);
  state.reply_timeout = saved_timeout;

  ops.set_controls_enabled(false);
  void* focused = ops.focus();

  ops.repaint_log();
  state.reply_timeout = kHandshakeReplyTimeout;
  ops.repaint_log();

  std::uint8_t reply[serial::kReplyBufferSize] = {};
  std::int32_t reply_count = 0;
  if (protocol::entry_handshake(line, pkg, reply, reply_count) == 1) {
    transfer_image(line, state, pkg, ops, reinterpret_cast<char*>(reply));
  } else {
    report_handshake_failure(ops, reply, reply_count);
    state.stop_request = 1;
  }

  port->close();

  if (state.stop_request == 0) {
    ops.add_log_line(kLogFinished);
    write_production_log(state, pkg, platform);  // a line that cannot be written changes nothing
  }

  ops.add_log_line("");
  ops.set_focus(focused);
  ops.set_controls_enabled(true);
  return 0;
}

}  // namespace update
