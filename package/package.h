// The firmware package: one byte-packed record compiled into the program's writable static data.
// The protocol constants that travel with it are in package/protocol_constants.h.
#pragma once

#include <cstddef>
#include <cstdint>

namespace package {

inline constexpr std::uint32_t kMarker = 0x5A3C91E7u;  // same value as the scrambler's first key word
inline constexpr std::uint32_t kImageCapacity = 0xA0000u;  // 655,360 bytes
inline constexpr std::size_t kVersionSize = 256;
inline constexpr std::size_t kAccessCodeSize = 6;
inline constexpr std::size_t kLogTagSize = 129;
inline constexpr std::size_t kReservedSize = 16;
inline constexpr std::int32_t kPresenceEmpty = -1;

#pragma pack(push, 1)
struct Record {
  std::uint32_t marker;
  std::uint32_t scramble_flag;            // non-zero: variant 3 scrambles its entry frame
  std::uint8_t reserved[kReservedSize];   // carried unchanged, never read
  std::int32_t presence;                  // -1 marks the package empty
  std::uint32_t image_length;             // 0 marks the package empty
  std::uint8_t variant;                   // protocol variant 0..4; above 4 fails the handshake
  char version[kVersionSize];             // NUL-terminated
  std::uint8_t image[kImageCapacity];
  char access_code[kAccessCodeSize];      // no terminator
  char log_tag[kLogTagSize];              // NUL-terminated
};
#pragma pack(pop)

static_assert(offsetof(Record, marker) == 0);
static_assert(offsetof(Record, scramble_flag) == 4);
static_assert(offsetof(Record, reserved) == 8);
static_assert(offsetof(Record, presence) == 24);
static_assert(offsetof(Record, image_length) == 28);
static_assert(offsetof(Record, variant) == 32);
static_assert(offsetof(Record, version) == 33);
static_assert(offsetof(Record, image) == 289);
static_assert(offsetof(Record, access_code) == 655649);
static_assert(offsetof(Record, log_tag) == 655655);
static_assert(sizeof(Record) == 655784);

// A text inside a fixed field: never longer than the field, not necessarily NUL-terminated.
struct Text {
  const char* data;
  std::size_t length;
};

// Usable when the image length is not 0 and the presence word is not -1. A record whose image
// length exceeds the image area, or whose version text has no terminator inside its field,
// counts as empty too: sending it would read past the record.
bool is_present(const Record& r);

// The version text; empty when it has no terminator inside its field.
const char* version_text(const Record& r);

// The image bytes to send: the first image-length bytes, or none when the length is impossible.
std::uint32_t image_length(const Record& r);
const std::uint8_t* image(const Record& r);

// The log tag up to its terminator, at most the whole field.
Text log_tag(const Record& r);

// The package compiled into this program.
Record& embedded();

}  // namespace package
