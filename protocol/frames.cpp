// Entry frames. The common and variant-3 frames are framed messages (protocol/framed_message.h);
// the variant-2 frame has a layout of its own with a decimal checksum and ETX.
#include "protocol/frames.h"

#include <cstring>

#include "protocol/scrambler.h"

namespace protocol {
namespace {

using framed::kFrameHeaderSize;
using framed::kLengthBase;
using framed::kStx;

constexpr std::uint8_t kEtx = 0x03;
constexpr std::uint8_t kFieldSeparator = 0x3B;  // ';'

// Common entry frame: command "!-" with the access code as its data.
constexpr std::uint8_t kCommonCommand[2] = {0x21, 0x2D};
constexpr std::int32_t kCommonFrameSize = 13;

// Variant-3 entry frame: command "!N", data "S;4;1;" + access code + ';'. Scrambled, the data
// grows by the two checksum characters the scrambler writes behind it.
constexpr std::uint8_t kVariant3Command[2] = {0x21, 0x4E};
constexpr std::uint8_t kVariant3Prefix[6] = {0x53, 0x3B, 0x34, 0x3B, 0x31, 0x3B};  // "S;4;1;"
constexpr std::int32_t kVariant3PlainData = 13;
constexpr std::int32_t kVariant3ScrambledData = kVariant3PlainData + 2;

// Variant-2 entry frame: STX 'u' access code '/' two decimal digits ETX.
constexpr std::uint8_t kVariant2Command = 0x75;  // 'u'
constexpr std::uint8_t kVariant2Separator = 0x2F;  // '/'
constexpr std::uint8_t kDigitBase = 0x30;  // '0'
constexpr std::int32_t kVariant2FrameSize = 12;

}  // namespace

std::int32_t build_common_frame(const package::Record& pkg, std::uint8_t* buf) {
  buf[0] = kStx;
  buf[1] = static_cast<std::uint8_t>(kLengthBase + package::kAccessCodeSize);
  buf[2] = kCommonCommand[0];
  buf[3] = kCommonCommand[1];
  std::memcpy(buf + kFrameHeaderSize, pkg.access_code, package::kAccessCodeSize);
  const std::int32_t len = framed::close_framed(buf, kFrameHeaderSize + package::kAccessCodeSize);
  static_assert(kFrameHeaderSize + package::kAccessCodeSize + framed::kFrameEndSize == kCommonFrameSize);
  return len;
}

namespace {

// The variant-3 frame in the given form; the length byte and the body agree on it.
std::int32_t variant3_frame(const package::Record& pkg, bool scrambled, std::uint8_t* buf) {
  buf[0] = kStx;
  buf[1] = static_cast<std::uint8_t>(kLengthBase + (scrambled ? kVariant3ScrambledData : kVariant3PlainData));
  buf[2] = kVariant3Command[0];
  buf[3] = kVariant3Command[1];
  std::size_t at = kFrameHeaderSize;
  std::memcpy(buf + at, kVariant3Prefix, sizeof kVariant3Prefix);
  at += sizeof kVariant3Prefix;
  std::memcpy(buf + at, pkg.access_code, package::kAccessCodeSize);
  at += package::kAccessCodeSize;
  buf[at++] = kFieldSeparator;
  static_assert(sizeof kVariant3Prefix + package::kAccessCodeSize + 1 == kVariant3PlainData);
  if (scrambled) {
    scramble(buf + kFrameHeaderSize, kVariant3PlainData);
    at += 2;  // the inner checksum characters the scrambler wrote
  }
  return framed::close_framed(buf, at);
}

}  // namespace

std::int32_t build_variant3_frame(const package::Record& pkg, std::uint8_t* buf) {
  return variant3_frame(pkg, pkg.scramble_flag != 0, buf);
}

std::int32_t build_plain_variant3_frame(const package::Record& pkg, std::uint8_t* buf) {
  return variant3_frame(pkg, false, buf);
}

std::int32_t build_variant2_frame(const package::Record& pkg, std::uint8_t* buf) {
  buf[0] = kStx;
  buf[1] = kVariant2Command;
  std::memcpy(buf + 2, pkg.access_code, package::kAccessCodeSize);
  buf[8] = kVariant2Separator;
  std::uint8_t sum = 0;  // modulo 256
  for (int i = 1; i <= 8; ++i) sum = static_cast<std::uint8_t>(sum + buf[i]);
  const unsigned two_digits = sum % 100u;  // a sum of 100 or more loses its hundreds
  buf[9] = static_cast<std::uint8_t>(kDigitBase + two_digits / 10);
  buf[10] = static_cast<std::uint8_t>(kDigitBase + two_digits % 10);
  buf[11] = kEtx;
  return kVariant2FrameSize;
}

}  // namespace protocol
