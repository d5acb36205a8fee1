// The update run's whole contract: what a front end asks for, what it must implement to watch
// the run, how it stops one, and what it gets back. Start here.
//
//   RunRequest   the port, its speed and the production log's file
//   RunObserver  the run's log lines and progress, and the moments at which a front end acts
//   RunResult    how the run ended: the outcome, where and why it stopped short, the serial
//                number, the bytes the printer acknowledged and what became of the log line
//   RunState     the scratch a run works in; one per port, reused from run to run
//   request_stop / request_cancel   what STOP (or Ctrl-C) and Cancel do to a run under way
//   run_update   one run, from START until the port is closed again
//
// The operating system comes in through update::Platform (update/platform.h): opening the port,
// the clock and message pump, the local time and appending to a file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "package/package.h"
#include "package/protocol_constants.h"
#include "protocol/identify.h"
#include "serial/timed_io.h"
#include "update/platform.h"

namespace update {

// --- The request -----------------------------------------------------------------------------

// The texts must stay unchanged until run_update returns; the port name is read only until the
// port is open, so it may live in the run state's text buffer.
struct RunRequest {
  const char* port_name;
  std::uint32_t speed;         // bits per second
  const char* production_log;  // the file a finished update appends its line to
};

// --- The result ------------------------------------------------------------------------------

// How a run ended. Only kFinished is an update: the printer took the image and the production
// log line was due.
enum class Outcome {
  kFinished,         // "Process finished."
  kPortNotOpened,    // "Error opening serial port."
  kNoCommunication,  // the entry handshake got no reply
  kBadReceipt,       // the entry handshake got a reply other than its acceptance
  kSendFailed,       // the announce line or a block could not be written
  kAnnounceRefused,  // no "OK" to the announce line
  kBlockRefused,     // a block's verdict was neither "OK" nor "RETRY"
  kClosingRefused,   // no "WAIT" after the last block
  // The front end stopped the run (STOP, Ctrl-C, or Cancel during the identification query):
  // whatever the run logged after that, it ended because it was told to.
  kStopped,
};

// Where in the run it ended, when it did not finish.
enum class Phase : std::uint8_t {
  kNone,       // the run finished
  kOpen,       // the port could not be opened
  kQuery,      // the identification query (only a stop ends a run here)
  kHandshake,  // the entry handshake
  kAnnounce,   // the announce line and its "OK"
  kBlock,      // one of the image's blocks and its verdict
  kClosing,    // the wait for "WAIT" after the last block
};

// What ended it.
enum class Cause : std::uint8_t {
  kNone,
  kNotOpened,   // the system refused the port; Failure::reason says why
  kNoReply,     // nothing came back within the reply timeout
  kRefused,     // something other than the awaited reply came back; Failure::received holds it
  kSendFailed,  // the announce line or a block could not be written
  kStopped,     // the front end stopped the run
};

inline constexpr std::size_t kFailureBytesKept = 48;  // of a refused reply, its first bytes
inline constexpr std::size_t kFailureReasonSize = 256;

// A failed or stopped run in enough detail for a person and a script.
struct Failure {
  Phase phase = Phase::kNone;
  Cause cause = Cause::kNone;
  std::uint32_t block = 0;          // kBlock: the block, counted from 1
  std::uint32_t blocks = 0;         // kBlock: the image's blocks
  std::int32_t reply_timeout = 0;   // seconds the reply was awaited
  std::int32_t received_count = 0;  // bytes the refused reply brought (of which the first are kept)
  std::uint8_t received[kFailureBytesKept] = {};
  // kNotOpened: the open error, the system's reason in plain words ("" where the platform cannot
  // tell).
  char reason[kFailureReasonSize] = {};
};

// Keeps the count of a reply's bytes and as many of its first bytes as the failure holds.
inline void keep_received(Failure& failure, const void* bytes, std::int32_t count) {
  failure.received_count = count > 0 ? count : 0;
  const std::size_t n = static_cast<std::size_t>(failure.received_count);
  const std::size_t kept = n < kFailureBytesKept ? n : kFailureBytesKept;
  for (std::size_t i = 0; i < kept; ++i) failure.received[i] = static_cast<const std::uint8_t*>(bytes)[i];
}

inline constexpr std::size_t kAppendReasonSize = 160;

// The production log line of a finished update.
struct ProductionLogWrite {
  bool due = false;      // the update finished, so its line was to be appended
  bool written = false;  // the whole line is in the file
  char reason[kAppendReasonSize] = {};  // why not, in plain words
};

struct RunResult {
  Outcome outcome = Outcome::kFinished;
  Failure failure;  // phase kNone when the run finished
  // What the identification query got; "" when the printer did not answer it (or its variant
  // has no query). At most 127 characters.
  char serial_number[protocol::kSerialNumberSize] = {};
  // Image bytes the printer acknowledged with "OK" in this run.
  std::uint32_t bytes_acknowledged = 0;
  ProductionLogWrite production_log;
};

// --- The observer ----------------------------------------------------------------------------

// What a front end implements to follow a run. log_line and progress are required; the moments
// are optional, and come in the order written here, each at a fixed point between the bytes on
// the wire. All calls come on the thread that called run_update.
class RunObserver {
 public:
  // One line of the run's log. An empty text is an empty line.
  virtual void log_line(const char* text) = 0;

  // After each block's verdict: the progress bar's position (0..100) and the image bytes the
  // printer has acknowledged so far.
  virtual void progress(std::uint32_t position, std::uint32_t bytes_acknowledged) = 0;

  // A block's verdict has just been read: "OK" (retry false) or "RETRY" (retry true, the same
  // block goes out again). Comes before that pass's progress report.
  virtual void block_answered(bool retry) { (void)retry; }

  // The identification query is over (answered or not) and nothing of the entry handshake has
  // been sent yet. Not reached when the port could not be opened.
  virtual void after_query() {}

  // Directly after after_query, with the entry handshake's reply timeout in place: the printer is
  // about to be switched into update mode and sent the image, and the run will not look at the
  // front end again before its first reply.
  virtual void before_transfer() {}

  // The printer has answered the last block with "WAIT" and turns itself off; its closing lines
  // have been logged. The port is still open.
  virtual void printer_turning_off() {}

 protected:
  ~RunObserver() = default;
};

// --- The run's scratch -----------------------------------------------------------------------

inline constexpr std::size_t kTextBufferSize = serial::kDrainAreaSize;  // shared scratch text

// What one run works in. A front end keeps one per port (the dialog one for its whole life) and
// touches it only through request_stop and request_cancel while a run is under way; its fields
// mean nothing once the run has returned (the result says what happened).
struct RunState {
  std::int32_t reply_timeout = package::kHandshakeReplyTimeout;  // whole seconds, set per exchange
  std::uint32_t stop_request = 0;  // a failure happened or STOP was pressed
  std::uint32_t run_active = 0;    // set while a run is under way, until STOP or Cancel
  char text[kTextBufferSize] = {};
  char serial_number[protocol::kSerialNumberSize] = {};
  std::uint32_t bytes_acknowledged = 0;  // image bytes acknowledged so far
};

// --- Stopping a run --------------------------------------------------------------------------
// Both are for a front end's handler that runs inside the run (from the message pump or the
// host's clock), on the run's thread.

// STOP, Ctrl-C: a transfer ends before its next block; a stop during the identification query
// ends the run at the entry handshake. The run's outcome is kStopped.
inline void request_stop(RunState& state) {
  state.run_active = 0;
  state.stop_request = 1;
}

// Cancel: the run stops before its next block, without cutting short an exchange under way (one
// during the identification query still sends the entry handshake). The run's outcome is kStopped
// unless no block was left to send.
inline void request_cancel(RunState& state) { state.run_active = 0; }

// --- The run ---------------------------------------------------------------------------------

// Opens the port, identifies the printer, switches it into update mode, transfers the image,
// closes the port and, when the update finished, appends the production log line. Every log line
// is out and the port is closed when it returns. The record is only read, so any number of runs
// (one per port, on their own threads and states) may share it.
RunResult run_update(const RunRequest& request, RunObserver& observer, Platform& platform, RunState& state,
                     const package::Record& pkg);

}  // namespace update
