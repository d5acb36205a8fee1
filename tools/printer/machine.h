// The virtual printer's protocol side: a state machine fed the bytes that arrive on the line, one
// at a time, which answers as a printer in firmware-update mode does. It knows nothing of ports,
// clocks or pacing; tools/printer/main.cpp feeds it from a pty or a serial device. Its wire
// encoding is wire.h's, the announce line's reading announce.h's.
//
// One update, as the printer sees it:
//   idle        identification query (framed, command "B`") -> framed "00" reply "<serial>;<model>"
//   handshake   variants 0, 1, 4: common entry frame "!-"          -> framed status
//               variant 2: CAN CAN CAN ENQ -> ACK, frame 'u'...ETX -> 14-byte framed status, ACK
//               variant 3: [ETB -> DC1,] frame "!N" scrambled or plain -> framed status;
//                          after a refusal one plain retry frame
//   announce    "<version>;<length>;<block size>;\r\n"           -> "OK\r\n"
//   blocks      block bytes + CRC-16 low byte first              -> "OK\r\n" or "RETRY\r\n"
//   closing     after the last block's "OK"                      -> "WAIT\r\n"
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/printer/wire.h"

namespace printer {

inline constexpr std::size_t kAccessCodeSize = 6;

// Where a fault strikes: the printer's reply at that point of the update.
enum class Stage { kQuery, kHandshake, kAnnounce, kBlock, kWait };

struct StagePoint {
  Stage stage = Stage::kQuery;
  std::uint32_t block = 0;  // 1-based block number, for Stage::kBlock
  bool operator==(const StagePoint&) const = default;
};

struct Faults {
  std::optional<StagePoint> silent;    // no reply at that point; the update ends there
  std::optional<StagePoint> garbage;   // kGarbageReply instead of the reply; the update ends
  bool refuse_handshake = false;       // every entry frame refused with a non-"00" status
  bool refuse_first = false;           // only the first entry frame refused (variant 3 retries)
  std::uint32_t retry_every = 0;       // blocks K, 2K, ... answered "RETRY" before "OK"
  std::uint32_t retry_times = 1;       // how many "RETRY" replies each of those blocks gets
  std::uint32_t bad_reply_block = 0;   // block K answered kBadReply
  std::uint32_t disconnect_at_block = 0;  // the line is closed instead of answering block K
  std::uint32_t remove_at_block = 0;   // the printer is switched off at block K: no reply from then on
  bool no_wait = false;                // no "WAIT" after the last block
  bool operator==(const Faults&) const = default;  // equal to Faults{}: a healthy printer
};

struct Config {
  int variant = 4;
  bool scramble = true;  // variant 3: probe and scrambled first frame
  std::array<std::uint8_t, kAccessCodeSize> access_code{'Z', 'V', '4', '7', '1', '1'};
  std::string serial = "ZP-000001";
  std::optional<std::string> version;          // checked against the announce line when set
  std::optional<std::uint32_t> image_length;   // likewise
  Faults faults;
};

// The printer's words on the wire (its control bytes and encoding are wire.h's).
inline constexpr char kStatusAccepted[] = "00";
inline constexpr char kStatusRefused[] = "01";
inline constexpr char kModel[] = "VIRTUAL";    // second field of the identification reply
// The variant-2 handshake reads 14 reply bytes; a 7-byte data field makes the reply exactly that.
inline constexpr char kVariant2ReplyData[] = "UPDATE;";
inline constexpr char kReplyOk[] = "OK\r\n";
inline constexpr char kReplyRetry[] = "RETRY\r\n";
inline constexpr char kReplyWait[] = "WAIT\r\n";
inline constexpr char kReplyError[] = "ERROR\r\n";   // announce line refused
inline constexpr char kBadReply[] = "BUSY\r\n";      // a block verdict that is neither OK nor RETRY
inline constexpr char kGarbageReply[] = "GARBAGE\r\n";

struct Stats {
  std::uint64_t bytes = 0;   // image bytes accepted
  std::uint32_t blocks = 0;  // blocks accepted
  std::uint32_t retries = 0;     // "RETRY" replies sent
  std::uint32_t crc_errors = 0;  // blocks whose CRC did not match
};

// How one update ended.
struct Result {
  bool ok = false;              // "WAIT" was sent
  bool image_complete = false;  // every announced byte was accepted
  std::string reason;           // why it ended
  bool attempted = false;       // the updater began the entry handshake (probe, wake-up or entry frame)
  bool query_fault = false;     // a fault took the identification reply
  Stats stats;
  std::vector<std::uint8_t> image;  // the accepted bytes
};

class Machine {
 public:
  explicit Machine(Config config);

  // One received byte. Replies it causes are queued for take_replies().
  void feed(std::uint8_t b);
  void feed(const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) feed(p[i]);
  }

  // Replies in the order they are due; each is one answer (a delay goes before each).
  std::vector<std::string> take_replies();
  // Progress notes for the operator of the printer (one line each).
  std::vector<std::string> take_events();
  // The update that ended since the last call, if any.
  std::optional<Result> take_result();

  // True from the first byte of an update (query, probe, wake-up or entry frame) to its end.
  bool active() const { return active_; }
  // Identification queries answered so far (the reply is the first one queued after it).
  int queries_answered() const { return queries_answered_; }
  // True while image blocks are being received (from the announce reply on).
  bool in_blocks() const { return state_ == State::kBlock; }
  // The line must be closed now (a disconnect fault).
  bool disconnect_requested() const { return disconnect_; }
  // The printer was switched off in mid-update (a removal fault); it answers nothing any more.
  bool removed() const { return removed_; }
  // The updater went quiet in mid-update: end it as failed and wait for the next one.
  void abandon(const std::string& why);

  const Config& config() const { return config_; }

 private:
  enum class State { kIdle, kFrame, kWakeUp, kVariant2Frame, kAwaitAck, kAnnounce, kBlock };

  void begin_update();
  void begin_attempt();  // an update that goes past the identification query
  void end_update(bool ok, const std::string& reason);
  void reply(const std::string& bytes);
  void note(const std::string& text);
  bool fault_at(const std::optional<StagePoint>& f, Stage stage, std::uint32_t block = 0) const;
  // Applies the silent and garbage faults of a stage. True when one of them took the reply.
  bool faulted_reply(Stage stage, std::uint32_t block = 0);

  void idle_byte(std::uint8_t b);
  void frame_complete();
  void on_query();
  void on_common_frame(const std::uint8_t* data, std::size_t d);
  void on_variant3_frame(const std::uint8_t* frame, std::size_t d);
  void on_variant2_frame();
  void handshake_verdict(bool good, const std::string& why, bool variant2);
  void announce_complete();
  void block_complete();

  Config config_;
  State state_ = State::kIdle;
  bool active_ = false;
  bool disconnect_ = false;
  bool removed_ = false;
  bool attempted_ = false;    // this update: see Result::attempted
  bool query_fault_ = false;  // this update: see Result::query_fault
  std::vector<std::uint8_t> buf_;  // the message being collected
  std::size_t frame_total_ = 0;    // framed message: its full length once the length byte is in
  int cans_ = 0;                   // variant 2: CANs of the wake-up sequence seen
  bool probe_answered_ = false;    // variant 3
  bool refused_once_ = false;      // variant 3: the plain retry frame is due
  int entry_frames_ = 0;
  int queries_answered_ = 0;

  std::uint32_t image_length_ = 0;
  std::uint32_t block_size_ = 0;
  std::uint32_t retries_this_block_ = 0;

  Stats stats_;
  std::vector<std::uint8_t> image_;
  std::vector<std::string> replies_;
  std::vector<std::string> events_;
  std::optional<Result> result_;
};

}  // namespace printer
