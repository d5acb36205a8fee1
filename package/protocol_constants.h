// The protocol constants kept beside the firmware package: the line speeds an operator can
// choose, the reply timeouts, the printer's reply words and the variant-2
// wake-up sequence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

namespace package {

// The line speeds in bits per second, in the order they are offered; the first is the default.
inline constexpr std::uint32_t kSpeeds[] = {9600, 19200, 38400, 57600, 115200};
inline constexpr std::size_t kSpeedCount = std::size(kSpeeds);
inline constexpr std::uint32_t kDefaultSpeed = kSpeeds[0];

// How long a reply is awaited, in whole seconds. The update run sets its own for each part:
inline constexpr std::int32_t kQueryReplyTimeout = 1;      // the identification query, skipped quickly when unanswered
inline constexpr std::int32_t kHandshakeReplyTimeout = 5;  // the entry handshake and the transfer's block replies
inline constexpr std::int32_t kClosingReplyTimeout = 10;   // the printer's "WAIT" after the last block
inline constexpr std::size_t kReplyWordSlot = 12;
inline constexpr std::size_t kReplyWordLimit = 20;  // longest prefix a reply word is matched on
inline constexpr char kWordOk[kReplyWordSlot] = "OK";
inline constexpr char kWordRetry[kReplyWordSlot] = "RETRY";
inline constexpr char kWordWait[kReplyWordSlot] = "WAIT";
inline constexpr std::uint8_t kWakeUp[4] = {0x18, 0x18, 0x18, 0x05};  // CAN CAN CAN ENQ

// The number of bytes of a reply word that a reply must match: its length, at most 20.
std::size_t reply_word_length(const char* word);

}  // namespace package
