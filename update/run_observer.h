// What an update run tells the front end that started it: its log lines and progress while it
// runs, the moments at which a front end does something of its own, and at the end what
// happened.
#pragma once

#include <cstddef>
#include <cstdint>

namespace update {

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
  char reason[kFailureReasonSize] = {};  // kNotOpened: the system's reason, where the platform gives one
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

// How a run ended: the outcome, what stopped it short, and what became of its record.
struct RunResult {
  Outcome outcome = Outcome::kFinished;
  Failure failure;
  ProductionLogWrite production_log;
};

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

  // The moments below come in this order, each at a fixed point between the bytes on the wire.
  // A front end acts at those it needs; the others do nothing.

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

  // The run is over: the port is closed again (or never opened), every log line is out.
  virtual void at_end(const RunResult& result) { (void)result; }

 protected:
  ~RunObserver() = default;
};

}  // namespace update
