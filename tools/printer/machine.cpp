#include "tools/printer/machine.h"

#include <cstring>
#include <utility>

#include "tools/printer/announce.h"
#include "tools/printer/wire.h"

namespace printer {
namespace {

using wire::block_crc;
using wire::framed_reply;
using wire::printable;

constexpr std::size_t kFrameHeader = 4;    // STX, length byte, two command characters
constexpr std::size_t kFrameOverhead = 7;  // header, two checksum characters, LF
constexpr std::uint8_t kQueryCommand[2] = {0x42, 0x60};     // "B`"
constexpr std::uint8_t kCommonCommand[2] = {0x21, 0x2D};    // "!-"
constexpr std::uint8_t kVariant3Command[2] = {0x21, 0x4E};  // "!N"
constexpr std::uint8_t kVariant3Prefix[] = {'S', ';', '4', ';', '1', ';'};
constexpr std::size_t kVariant3PlainData = sizeof kVariant3Prefix + kAccessCodeSize + 1;  // 13
constexpr std::size_t kVariant3ScrambledData = kVariant3PlainData + 2;                   // 15
constexpr std::uint8_t kFieldSeparator = ';';
constexpr int kWakeUpCans = 3;

// Variant-2 entry frame: STX 'u' code(6) '/' tens units ETX.
constexpr std::size_t kVariant2FrameSize = 12;
constexpr std::uint8_t kVariant2Command = 'u';
constexpr std::uint8_t kVariant2Separator = '/';

// What the configuration does not expect of an announce line ("" when nothing).
std::string unexpected(const Announce& a, const Config& c) {
  if (c.version && a.version != *c.version)
    return "version \"" + a.version + "\" is not the expected \"" + *c.version + "\"";
  if (c.image_length && a.image_length != *c.image_length)
    return "image length " + std::to_string(a.image_length) + " is not the expected " + std::to_string(*c.image_length);
  return "";
}

}  // namespace

Machine::Machine(Config config) : config_(std::move(config)) {}

std::vector<std::string> Machine::take_replies() { return std::exchange(replies_, {}); }
std::vector<std::string> Machine::take_events() { return std::exchange(events_, {}); }
std::optional<Result> Machine::take_result() { return std::exchange(result_, std::nullopt); }

void Machine::reply(const std::string& bytes) { replies_.push_back(bytes); }
void Machine::note(const std::string& text) { events_.push_back(text); }

void Machine::begin_update() {
  if (active_) return;
  active_ = true;
  stats_ = Stats{};
  image_.clear();
  probe_answered_ = false;
  refused_once_ = false;
  entry_frames_ = 0;
  retries_this_block_ = 0;
  attempted_ = false;
  query_fault_ = false;
}

void Machine::begin_attempt() {
  begin_update();
  attempted_ = true;
}

void Machine::end_update(bool ok, const std::string& reason) {
  Result r;
  r.ok = ok;
  r.image_complete = image_length_ != 0 && image_.size() == image_length_;
  r.reason = reason;
  r.attempted = attempted_;
  r.query_fault = query_fault_;
  r.stats = stats_;
  r.image = std::move(image_);
  result_ = std::move(r);
  image_.clear();
  image_length_ = 0;
  active_ = false;
  state_ = State::kIdle;
  buf_.clear();
  cans_ = 0;
  note(std::string(ok ? "update complete: " : "update failed: ") + reason);
}

void Machine::abandon(const std::string& why) {
  if (active_) end_update(false, why);
}

bool Machine::fault_at(const std::optional<StagePoint>& f, Stage stage, std::uint32_t block) const {
  return f && f->stage == stage && (stage != Stage::kBlock || f->block == block);
}

bool Machine::faulted_reply(Stage stage, std::uint32_t block) {
  if (fault_at(config_.faults.silent, stage, block)) {
    note("fault: no reply");
    return true;
  }
  if (fault_at(config_.faults.garbage, stage, block)) {
    note("fault: garbage reply");
    reply(kGarbageReply);
    return true;
  }
  return false;
}

void Machine::feed(std::uint8_t b) {
  if (disconnect_ || removed_) return;  // the line or the printer is gone
  switch (state_) {
    case State::kIdle:
      idle_byte(b);
      return;
    case State::kFrame:
      buf_.push_back(b);
      if (buf_.size() == 2) {
        if (b < kLengthBase) {
          note("framed message with a length byte below 0x23 dropped");
          if (active_) end_update(false, "bad length byte");
          state_ = State::kIdle;
          return;
        }
        frame_total_ = kFrameOverhead + (b - kLengthBase);
      }
      if (buf_.size() >= 2 && buf_.size() == frame_total_) frame_complete();
      return;
    case State::kWakeUp:
      // After CAN: more CANs, then ENQ; anything else breaks the sequence.
      if (b == kCan) {
        ++cans_;
        return;
      }
      if (b == kEnq && cans_ >= kWakeUpCans) {
        cans_ = 0;
        if (faulted_reply(Stage::kHandshake)) {
          end_update(false, "handshake fault");
          return;
        }
        reply(std::string(1, static_cast<char>(kAck)));
        note("variant 2: wake-up answered");
        state_ = State::kVariant2Frame;
        buf_.clear();
        return;
      }
      note("broken wake-up sequence");
      end_update(false, "broken wake-up sequence");
      return;
    case State::kVariant2Frame:
      if (buf_.empty() && b != kStx) {
        note("variant 2: expected STX, got " + printable(&b, 1));
        end_update(false, "variant-2 frame does not start with STX");
        return;
      }
      buf_.push_back(b);
      if (buf_.size() == kVariant2FrameSize) on_variant2_frame();
      return;
    case State::kAwaitAck:
      if (b == kAck) {
        note("variant 2: closing ACK received");
        state_ = State::kAnnounce;
        buf_.clear();
      } else {
        end_update(false, "expected the closing ACK, got " + printable(&b, 1));
      }
      return;
    case State::kAnnounce:
      buf_.push_back(b);
      if (b == kLf) {
        announce_complete();
      } else if (buf_.size() > kMaxAnnounceLine) {
        reply(kReplyError);
        end_update(false, "announce line too long");
      }
      return;
    case State::kBlock: {
      buf_.push_back(b);
      const std::uint32_t remaining = image_length_ - static_cast<std::uint32_t>(image_.size());
      const std::uint32_t n = remaining < block_size_ ? remaining : block_size_;
      if (buf_.size() == n + 2u) block_complete();
      return;
    }
  }
}

void Machine::idle_byte(std::uint8_t b) {
  if (b == kStx) {
    state_ = State::kFrame;
    buf_.assign(1, b);
    frame_total_ = 0;
    return;
  }
  if (b == kEtb && config_.variant == 3) {
    begin_attempt();
    if (faulted_reply(Stage::kHandshake)) {
      end_update(false, "handshake fault");
      return;
    }
    reply(std::string(1, static_cast<char>(kDc1)));
    probe_answered_ = true;
    note("variant 3: probe answered");
    return;
  }
  if (b == kCan && config_.variant == 2) {
    begin_attempt();
    state_ = State::kWakeUp;
    cans_ = 1;
    return;
  }
  // Line noise between updates (the tail of an unread reply, a stray byte): dropped.
}

void Machine::frame_complete() {
  state_ = State::kIdle;
  const std::uint8_t* f = buf_.data();
  const std::size_t n = buf_.size();
  const std::size_t d = n - kFrameOverhead;
  const bool framed = wire::framed_message_intact(f, n);
  const bool query = f[2] == kQueryCommand[0] && f[3] == kQueryCommand[1];
  if (!framed) {
    // A garbled frame gets no answer: the printer cannot trust any of it.
    // A garbled entry frame ends the update attempt it began; a garbled query only goes
    // unanswered, as the updater carries on without a serial number.
    note("garbled framed message dropped (bad checksum or no LF): " + printable(f, n));
    if (!query) {
      begin_attempt();
      end_update(false, "garbled entry frame");
    }
    return;
  }
  if (query && d == 0) {
    on_query();
    return;
  }
  begin_attempt();
  ++entry_frames_;
  if (f[2] == kCommonCommand[0] && f[3] == kCommonCommand[1] &&
      (config_.variant == 0 || config_.variant == 1 || config_.variant == 4)) {
    on_common_frame(f + kFrameHeader, d);
  } else if (f[2] == kVariant3Command[0] && f[3] == kVariant3Command[1] && config_.variant == 3) {
    on_variant3_frame(f, d);
  } else {
    handshake_verdict(false, "unexpected message " + printable(f, n) + " for variant " +
                                 std::to_string(config_.variant), false);
  }
}

void Machine::on_query() {
  begin_update();
  if (faulted_reply(Stage::kQuery)) {
    query_fault_ = true;
    return;  // the updater goes on without a serial number
  }
  reply(framed_reply(kStatusAccepted, config_.serial + ";" + kModel));
  ++queries_answered_;
  note("identification query answered: " + config_.serial);
}

void Machine::on_common_frame(const std::uint8_t* data, std::size_t d) {
  if (d != kAccessCodeSize) {
    handshake_verdict(false, "common entry frame with " + std::to_string(d) + " data bytes", false);
    return;
  }
  const bool code_ok = std::memcmp(data, config_.access_code.data(), kAccessCodeSize) == 0;
  handshake_verdict(code_ok, code_ok ? "" : "wrong access code " + printable(data, d), false);
}

void Machine::on_variant3_frame(const std::uint8_t* frame, std::size_t d) {
  // The first frame comes in the form the package's flag gives (scrambled after the probe);
  // the retry after a refusal is always plain.
  const bool want_scrambled = config_.scramble && !refused_once_;
  if (want_scrambled && !probe_answered_) {
    handshake_verdict(false, "scrambled form expected after the probe, but no probe came", false);
    return;
  }
  const std::size_t want_d = want_scrambled ? kVariant3ScrambledData : kVariant3PlainData;
  if (d != want_d) {
    handshake_verdict(false, std::string("variant-3 frame of ") + std::to_string(d) + " data bytes, expected the " +
                                 (want_scrambled ? "scrambled" : "plain") + " form",
                      false);
    return;
  }
  std::uint8_t plain[kVariant3ScrambledData];
  std::memcpy(plain, frame + kFrameHeader, d);
  if (want_scrambled) {
    wire::unscramble(plain, d);
    // Scrambling the recovered bytes again must give what came over the wire; that also
    // checks the inner checksum characters.
    std::uint8_t again[kVariant3ScrambledData];
    std::memcpy(again, plain, kVariant3PlainData);
    wire::scramble(again, kVariant3PlainData);
    if (std::memcmp(again, frame + kFrameHeader, d) != 0 ||
        !wire::checksum_matches(wire::xor_of(plain, kVariant3PlainData), plain + kVariant3PlainData)) {
      handshake_verdict(false, "scrambled data does not unscramble to a valid body", false);
      return;
    }
  }
  if (std::memcmp(plain, kVariant3Prefix, sizeof kVariant3Prefix) != 0 ||
      plain[kVariant3PlainData - 1] != kFieldSeparator) {
    handshake_verdict(false, "variant-3 body is not S;4;1;<code>; : " + printable(plain, kVariant3PlainData), false);
    return;
  }
  const std::uint8_t* code = plain + sizeof kVariant3Prefix;
  const bool code_ok = std::memcmp(code, config_.access_code.data(), kAccessCodeSize) == 0;
  handshake_verdict(code_ok, code_ok ? "" : "wrong access code " + printable(code, kAccessCodeSize), false);
}

void Machine::on_variant2_frame() {
  const std::uint8_t* f = buf_.data();
  const std::array<std::uint8_t, 2> digits = wire::decimal_checksum(f);
  const bool framed = f[1] == kVariant2Command && f[8] == kVariant2Separator && f[11] == kEtx &&
                      f[9] == digits[0] && f[10] == digits[1];
  if (!framed) {
    note("garbled variant-2 frame dropped: " + printable(f, kVariant2FrameSize));
    end_update(false, "garbled variant-2 frame");
    return;
  }
  ++entry_frames_;
  const bool code_ok = std::memcmp(f + 2, config_.access_code.data(), kAccessCodeSize) == 0;
  handshake_verdict(code_ok, code_ok ? "" : "wrong access code " + printable(f + 2, kAccessCodeSize), true);
}

void Machine::handshake_verdict(bool good, const std::string& why, bool variant2) {
  buf_.clear();
  const Faults& fl = config_.faults;
  // The probe or wake-up answer already took the handshake faults in variants 2 and 3 with a
  // probe; otherwise they strike here, at the first handshake reply.
  const bool first_reply_here = !(variant2 || (config_.variant == 3 && probe_answered_));
  if (first_reply_here && entry_frames_ == 1 && faulted_reply(Stage::kHandshake)) {
    end_update(false, "handshake fault");
    return;
  }
  std::string reason = why;
  if (good && (fl.refuse_handshake || (fl.refuse_first && entry_frames_ == 1))) {
    good = false;
    reason = "refused by fault option";
  }
  const std::string data = variant2 ? kVariant2ReplyData : "";
  if (good) {
    reply(framed_reply(kStatusAccepted, data));
    note("entry handshake accepted (variant " + std::to_string(config_.variant) + ")");
    state_ = variant2 ? State::kAwaitAck : State::kAnnounce;
    return;
  }
  reply(framed_reply(kStatusRefused, data));
  note("entry frame refused: " + reason);
  if (config_.variant == 3 && !refused_once_) {
    refused_once_ = true;  // one plain retry frame may follow
    return;
  }
  end_update(false, "entry frame refused: " + reason);
}

void Machine::announce_complete() {
  std::string line(buf_.begin(), buf_.end());
  buf_.clear();
  if (faulted_reply(Stage::kAnnounce)) {
    end_update(false, "announce fault");
    return;
  }
  Announce a;
  std::string why = parse_announce(line, a);
  if (why.empty()) why = unexpected(a, config_);
  if (!why.empty()) {
    reply(kReplyError);
    end_update(false, why + ": " + printable(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()));
    return;
  }
  image_length_ = a.image_length;
  block_size_ = a.block_size;
  image_.reserve(a.image_length);
  reply(kReplyOk);
  note("announce: \"" + a.version + "\", " + std::to_string(a.image_length) + " bytes in blocks of " +
       std::to_string(a.block_size));
  state_ = State::kBlock;
}

void Machine::block_complete() {
  const Faults& fl = config_.faults;
  const std::size_t n = buf_.size() - 2;
  const std::uint32_t number = static_cast<std::uint32_t>(image_.size() / block_size_) + 1;
  const std::uint16_t got = static_cast<std::uint16_t>(buf_[n] | (buf_[n + 1] << 8));  // low byte first
  const std::uint16_t want = block_crc(buf_.data(), n);
  if (fl.disconnect_at_block == number) {
    note("fault: line closed at block " + std::to_string(number));
    disconnect_ = true;
    end_update(false, "disconnected at block " + std::to_string(number));
    return;
  }
  if (fl.remove_at_block == number) {
    note("fault: printer removed at block " + std::to_string(number));
    removed_ = true;
    end_update(false, "removed at block " + std::to_string(number));
    return;
  }
  if (faulted_reply(Stage::kBlock, number)) {
    end_update(false, "block " + std::to_string(number) + " fault");
    return;
  }
  if (fl.bad_reply_block == number) {
    reply(kBadReply);
    end_update(false, "bad verdict sent for block " + std::to_string(number));
    return;
  }
  if (got != want) {
    ++stats_.crc_errors;
    ++stats_.retries;
    reply(kReplyRetry);
    note("block " + std::to_string(number) + ": CRC error, RETRY");
    buf_.clear();
    return;
  }
  if (fl.retry_every != 0 && number % fl.retry_every == 0 && retries_this_block_ < fl.retry_times) {
    ++stats_.retries;
    ++retries_this_block_;
    reply(kReplyRetry);
    buf_.clear();
    return;
  }
  retries_this_block_ = 0;
  image_.insert(image_.end(), buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(n));
  buf_.clear();
  ++stats_.blocks;
  stats_.bytes += n;
  reply(kReplyOk);
  if (image_.size() < image_length_) return;
  if (fl.no_wait || faulted_reply(Stage::kWait)) {
    end_update(false, "image received, no WAIT sent");
    return;
  }
  reply(kReplyWait);
  end_update(true, "image received, WAIT sent");
}

}  // namespace printer
