// The virtual printer's own encoding of the wire: the control bytes, checksum characters, the
// framed reply, the values the entry-frame scrambler never produces, its key schedule, the
// scrambler both ways (the printer undoes it to read the access code, and scrambles what it
// recovered to confirm it), and the CRC-16 a block carries.
//
// Written here apart from the updater's protocol/ code, on purpose: the printer is the oracle the
// tests run the updater against, and an encoding both sides shared would let a mistake in it (a
// wrong checksum character, key word, excluded value or rotation) pass every one of those tests.
// tests/printer/wire_oracle_test.cpp is the one place that holds the two side by side.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace printer {

// The control bytes of the printer's side of the wire.
inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kEtx = 0x03;
inline constexpr std::uint8_t kEnq = 0x05;
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kLf = 0x0A;
inline constexpr std::uint8_t kCr = 0x0D;
inline constexpr std::uint8_t kDc1 = 0x11;   // probe answer
inline constexpr std::uint8_t kEtb = 0x17;   // pre-frame probe
inline constexpr std::uint8_t kCan = 0x18;
inline constexpr std::uint8_t kLengthBase = 0x23;  // framed message: length byte = 0x23 + data bytes

}  // namespace printer

namespace printer::wire {

// An 8-bit value as two characters, high nibble first. Each nibble is one of the sixteen
// characters '0'..'9' ':' ';' '<' '=' '>' '?' (0x30..0x3F); 0xAF goes out as ':' '?', never as
// hexadecimal letters.
std::array<std::uint8_t, 2> checksum_chars(std::uint8_t v);

// XOR of n bytes: the value a framed message's checksum characters carry.
std::uint8_t xor_of(const std::uint8_t* p, std::size_t n);

// True when the two characters at chars are those of v.
bool checksum_matches(std::uint8_t v, const std::uint8_t* chars);

// A whole framed message (STX, length byte, command, data, checksum characters, LF) of n >= 7
// bytes: ends in LF, and its checksum characters are those of the XOR of the length byte, the
// command and the data.
bool framed_message_intact(const std::uint8_t* f, std::size_t n);

// Framed message as the printer sends it: STX, 0x23 + D, the two status characters, the D data
// bytes, checksum characters, LF.
std::string framed_reply(const char status[2], const std::string& data);

// The variant-2 entry frame's two decimal digits over its bytes 1 to 8: their sum modulo 256,
// then modulo 100, as tens and units ('0'..'9').
std::array<std::uint8_t, 2> decimal_checksum(const std::uint8_t* frame);

// The eleven values a scrambling stage never turns a byte into: NUL STX ETX ENQ LF DLE DC1 SYN
// CAN EM SUB.
bool is_excluded(std::uint8_t v);

// The two masks of one scrambler step.
struct Masks {
  std::uint8_t stage1;  // low byte of the first key word
  std::uint8_t stage2;  // low byte of the second key word, bits 0 and 7 cleared
  bool operator==(const Masks&) const = default;
};

// The masks of step `step` (0-based) of a scrambler run, worked out from the key words' start
// values rather than stepped: by then the first key word has turned left by one bit a step and by
// three more at steps 31, 62, 93 ..., the second by two bits a step.
Masks masks_at(std::size_t step);

// Scrambles n plain bytes in place, and the checksum characters of their XOR, which it writes at
// p[n] and p[n + 1] (p holds n + 2 bytes). With n = 0 nothing is written and the two bytes at p are
// scrambled as they are.
void scramble(std::uint8_t* p, std::size_t n);

// Undoes the scrambler on n bytes in place (plain bytes and the checksum characters behind them).
// Exact when none of the plain bytes is an excluded value, which holds for printable access codes;
// scramble() of the result confirms it.
void unscramble(std::uint8_t* p, std::size_t n);

// The CRC-16 a block must carry (CRC-16/MCRF4XX: reflected polynomial 0x1021, initial value
// 0xFFFF, no final XOR), worked out bit by bit. The printer checks blocks with its own
// computation rather than the updater's table, so that a fault in one shows up against the other.
std::uint16_t block_crc(const std::uint8_t* data, std::size_t n);

// Bytes as the printer's notes show them: printable ASCII as it is, every other byte as \xHH.
std::string printable(const std::uint8_t* p, std::size_t n);

}  // namespace printer::wire
