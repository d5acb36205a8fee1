// The identification query: asks the printer for its serial number (variants 0, 1 and 4 only).
// The reply is a framed message whose data holds the serial number up to the first ';'.
#include "protocol/identify.h"

#include <cstring>

#include "protocol/framed_message.h"

namespace protocol {
namespace {

using framed::kLengthBase;
using framed::kReplyEnd;
using framed::kReplyStart;
using framed::kStx;

// The query: a framed message of command 0x42 0x60 and no data.
constexpr auto kQuery = framed::command_frame(0x42, 0x60);
constexpr char kSerialEnd = ';';
constexpr char kUnsafeReplacement = '?';
constexpr std::uint8_t kDel = 0x7F;
constexpr std::uint8_t kFirstPrintable = 0x20;

}  // namespace

bool has_query(std::uint8_t variant) { return variant == 0 || variant == 1 || variant == 4; }

bool identification_query(serial::Line& line, const package::Record& pkg, char* serial_number) {
  serial_number[0] = '\0';
  if (!has_query(pkg.variant)) return false;

  std::uint8_t reply[kQueryBufferSize] = {};
  serial::drained_write(line, kQuery.data(), static_cast<std::uint32_t>(kQuery.size()));

  if (serial::block_read(line, reply, kReplyStart) < static_cast<std::int32_t>(kReplyStart) || reply[0] != kStx)
    return false;
  // A length byte below the base announces a negative amount of data: as unusable as a bad start.
  if (reply[1] < kLengthBase) return false;
  const std::uint32_t data_bytes = reply[1] - kLengthBase;  // at most 220, inside the buffer

  std::int32_t got = serial::block_read(line, reply, data_bytes);
  // The reply's end is read too (and not checked). A USB serial adapter hands bytes over in
  // packets, so these three can arrive well after the data; left to the handshake's drain they
  // could come after it and be taken for the printer's answer to the entry frame. A reply whose
  // data came short has no end coming: the reply timeout has already run out once.
  if (got >= static_cast<std::int32_t>(data_bytes)) {
    std::uint8_t end[kReplyEnd];
    (void)serial::block_read(line, end, kReplyEnd);
  }
  // The count can run past the bytes asked for; the terminator stays inside the buffer.
  if (got < 0) got = 0;
  if (got > static_cast<std::int32_t>(kQueryBufferSize - 1)) got = kQueryBufferSize - 1;
  reply[got] = 0;

  const char* text = reinterpret_cast<const char*>(reply);
  const char* end = std::strchr(text, kSerialEnd);
  if (end == nullptr) return false;
  const std::size_t length = static_cast<std::size_t>(end - text);
  // A serial number that does not fit is refused rather than cut: a shortened one would go into
  // the production log looking like a real serial number.
  if (length > kSerialNumberSize - 1) return false;

  // The serial number becomes the first field of a production log line: no control byte may
  // break that file's one record per line.
  for (std::size_t i = 0; i < length; ++i) {
    const auto b = static_cast<std::uint8_t>(text[i]);
    serial_number[i] = (b < kFirstPrintable || b == kDel) ? kUnsafeReplacement : text[i];
  }
  serial_number[length] = '\0';
  return true;
}

}  // namespace protocol
