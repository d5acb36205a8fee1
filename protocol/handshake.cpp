// The entry handshake: sends the package variant's entry frame and reads the printer's verdict.
// Every frame is built in the work buffer from offset 0 and every reply is read there from
// offset 0, so on failure the buffer starts with the bytes of the read that failed.
#include "protocol/handshake.h"

#include "package/protocol_constants.h"
#include "protocol/frames.h"

namespace protocol {
namespace {

using framed::kReplyEnd;    // two checksum characters and LF
using framed::kReplyStart;  // STX, length byte, two status characters
constexpr std::uint8_t kAccepted = 0x30;  // status '0' '0' at reply bytes 2 and 3
constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kProbe = 0x17;       // sent before a scrambled variant-3 frame
constexpr std::uint8_t kProbeAnswer = 0x11;

bool accepted(const std::uint8_t* work) { return work[2] == kAccepted && work[3] == kAccepted; }

bool reply_start_complete(std::int32_t count) { return count >= static_cast<std::int32_t>(kReplyStart); }

void send(serial::Line& line, const std::uint8_t* work, std::int32_t n) {
  // A failed write shows up as a missing reply.
  serial::drained_write(line, work, static_cast<std::uint32_t>(n));
}

// Variants 0, 1 and 4.
bool common_handshake(serial::Line& line, const package::Record& pkg, std::uint8_t* work, std::int32_t& reply_count) {
  send(line, work, build_common_frame(pkg, work));
  const std::int32_t start = serial::block_read(line, work, kReplyStart);
  if (!reply_start_complete(start) || !accepted(work)) {
    reply_count = start;
    return false;
  }
  reply_count = serial::block_read(line, work, kReplyEnd);
  return true;
}

bool variant2_handshake(serial::Line& line, const package::Record& pkg, std::uint8_t* work, std::int32_t& reply_count) {
  serial::drained_write(line, package::kWakeUp, sizeof package::kWakeUp);
  const std::int32_t woke = serial::block_read(line, work, 1);
  if (woke == 0) {
    reply_count = 0;
    return false;
  }
  if (work[0] != kAck) {
    reply_count = woke;
    return false;
  }
  send(line, work, build_variant2_frame(pkg, work));
  constexpr std::uint32_t kVariant2Reply = 14;  // only its first four bytes are required
  const std::int32_t reply = serial::block_read(line, work, kVariant2Reply);
  reply_count = reply;
  if (!reply_start_complete(reply) || !accepted(work)) return false;
  work[0] = kAck;
  send(line, work, 1);
  return true;
}

bool variant3_handshake(serial::Line& line, const package::Record& pkg, std::uint8_t* work, std::int32_t& reply_count) {
  if (pkg.scramble_flag != 0) {
    work[0] = kProbe;
    send(line, work, 1);
    const std::int32_t answer = serial::block_read(line, work, 1);
    if (work[0] != kProbeAnswer) {  // the byte decides; a silent printer leaves it 0
      reply_count = answer;
      return false;
    }
  }
  send(line, work, build_variant3_frame(pkg, work));
  const std::int32_t start = serial::block_read(line, work, kReplyStart);
  if (!reply_start_complete(start)) {
    reply_count = start;
    return false;
  }
  if (accepted(work)) {
    reply_count = serial::block_read(line, work, kReplyEnd);
    return true;
  }

  // Refused: read the rest of that reply and try once more with the plain frame, without probe.
  serial::block_read(line, work, kReplyEnd);
  send(line, work, build_plain_variant3_frame(pkg, work));
  const std::int32_t retry = serial::block_read(line, work, kReplyStart);
  const bool ok = reply_start_complete(retry) && accepted(work);
  reply_count = serial::block_read(line, work, kReplyEnd);
  return ok;
}

}  // namespace

bool entry_handshake(serial::Line& line, const package::Record& pkg, std::uint8_t* work, std::int32_t& reply_count) {
  reply_count = 0;
  switch (pkg.variant) {
    case 0:
    case 1:
    case 4:
      return common_handshake(line, pkg, work, reply_count);
    case 2:
      return variant2_handshake(line, pkg, work, reply_count);
    case 3:
      return variant3_handshake(line, pkg, work, reply_count);
    default:
      return false;  // no exchange for this variant: nothing is sent
  }
}

}  // namespace protocol
