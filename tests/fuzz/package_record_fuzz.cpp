// The package record's accessors, and what the run builds from the record (announce line, entry
// frames, production log line), on arbitrary record bytes.
//
// Input: the record's first 289 bytes (header and version text), then its last 135 bytes
// (access code and log tag), then the start of the image; whatever the input leaves out is 0xA5,
// so that no field is terminated by chance. The six bytes behind the image's start give the local
// time fields of the production line (signed bytes scaled, out-of-range values included).
//
// Checked: the presence test holds exactly for a non-zero image length within the image area,
// a presence word other than -1 and a version text terminated inside its field; the version text
// is always a terminated text inside its field (or empty); the image length used never exceeds
// the image area; the log tag is the field up to its first NUL; the announce line is
// "<version>;<length>;528;\r\n" and fits its buffer; the production line is
// "SN-77;<tag>;MM/DD/YY HH:MM:SS\r\n" with every date field two digits, or nothing when it would
// not fit; the entry frames have their fixed lengths, start with STX and end with LF (ETX for
// variant 2), carry checksum characters in 0x30..0x3F, and a scrambled frame built from an access
// code without excluded values holds none in its scrambled part. Every buffer is exactly as large
// as its owner declares it.
#include <memory>
#include <string>

#include "protocol/frames.h"
#include "protocol/scrambler.h"
#include "tests/fuzz/fuzz_line.h"
#include "update/production_log.h"
#include "update/transfer.h"

namespace {

constexpr std::size_t kHeadSize = offsetof(package::Record, image);  // 289
constexpr std::size_t kTailSize = sizeof(package::Record) - offsetof(package::Record, access_code);  // 135
constexpr std::size_t kImageStart = 64;  // image bytes taken from the input

// A static record: the address sanitizer guards the bytes around it.
package::Record g_record;

void fill(const std::uint8_t*& data, std::size_t& size, void* dst, std::size_t n) {
  const std::size_t k = size < n ? size : n;
  std::memset(dst, 0xA5, n);
  std::memcpy(dst, data, k);
  data += k;
  size -= k;
}

bool is_check_char(std::uint8_t c) { return c >= 0x30 && c <= 0x3F; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  package::Record& r = g_record;
  auto* bytes = reinterpret_cast<std::uint8_t*>(&r);
  fill(data, size, bytes, kHeadSize);
  fill(data, size, bytes + offsetof(package::Record, access_code), kTailSize);
  fill(data, size, r.image, kImageStart);
  std::int8_t clock[6] = {};
  for (auto& c : clock) c = static_cast<std::int8_t>(fuzz::Header(data, size).next());

  // Presence and the accessors.
  const bool terminated = std::memchr(r.version, 0, package::kVersionSize) != nullptr;
  const bool present = package::is_present(r);
  FUZZ_CHECK(present == (r.image_length != 0 && r.image_length <= package::kImageCapacity &&
                         r.presence != package::kPresenceEmpty && terminated));
  const char* version = package::version_text(r);
  FUZZ_CHECK(version == r.version ? terminated : version[0] == '\0');
  const std::uint32_t length = package::image_length(r);
  FUZZ_CHECK(length <= package::kImageCapacity);
  FUZZ_CHECK(length == (r.image_length <= package::kImageCapacity ? r.image_length : 0));
  FUZZ_CHECK(package::image(r) == r.image);
  const package::Text tag = package::log_tag(r);
  FUZZ_CHECK(tag.data == r.log_tag && tag.length <= package::kLogTagSize);
  FUZZ_CHECK(std::memchr(tag.data, 0, tag.length) == nullptr);
  if (tag.length < package::kLogTagSize) FUZZ_CHECK(r.log_tag[tag.length] == '\0');

  // The announce line.
  auto announce = std::make_unique<char[]>(update::kAnnounceBufferSize);
  const std::int32_t n = update::build_announce_line(r, announce.get());
  const std::string expected = std::string(version) + ";" + std::to_string(length) + ";528;\r\n";
  FUZZ_CHECK(n >= 0 && static_cast<std::size_t>(n) < update::kAnnounceBufferSize);
  FUZZ_CHECK(std::string(announce.get(), n) == expected);

  // The production log line, in a buffer the size of the run's text buffer.
  const update::LocalTime t{2000 + clock[0] * 20, clock[1], clock[2], clock[3], clock[4], clock[5] * 1000};
  auto text = std::make_unique<char[]>(update::kTextBufferSize);
  const std::size_t m = update::format_production_line("SN-77", r, t, text.get(), update::kTextBufferSize);
  const std::string line(text.get(), m);
  const std::string head = "SN-77;" + std::string(tag.data, tag.length) + ";";
  FUZZ_CHECK(m < update::kTextBufferSize && text[m] == '\0');
  FUZZ_CHECK(line.size() == head.size() + 17 + 2);
  FUZZ_CHECK(line.compare(0, head.size(), head) == 0);
  const std::string stamp = line.substr(head.size(), 17);
  for (std::size_t i = 0; i < stamp.size(); ++i) {
    const char c = stamp[i];
    if (i == 2 || i == 5) FUZZ_CHECK(c == '/');
    else if (i == 8) FUZZ_CHECK(c == ' ');
    else if (i == 11 || i == 14) FUZZ_CHECK(c == ':');
    else FUZZ_CHECK(c >= '0' && c <= '9');
  }
  FUZZ_CHECK(line.compare(line.size() - 2, 2, "\r\n") == 0);

  // The entry frames from this record's access code and scramble flag.
  auto frame = std::make_unique<std::uint8_t[]>(protocol::kLongestFrame);
  FUZZ_CHECK(protocol::build_common_frame(r, frame.get()) == 13);
  FUZZ_CHECK(frame[0] == 0x02 && frame[12] == 0x0A && is_check_char(frame[10]) && is_check_char(frame[11]));
  FUZZ_CHECK(std::memcmp(frame.get() + 4, r.access_code, package::kAccessCodeSize) == 0);

  FUZZ_CHECK(protocol::build_variant2_frame(r, frame.get()) == 12);
  FUZZ_CHECK(frame[0] == 0x02 && frame[11] == 0x03);
  FUZZ_CHECK(frame[9] >= '0' && frame[9] <= '9' && frame[10] >= '0' && frame[10] <= '9');

  const std::int32_t v3 = protocol::build_variant3_frame(r, frame.get());
  const bool scrambled = r.scramble_flag != 0;
  FUZZ_CHECK(v3 == (scrambled ? 22 : 20));
  FUZZ_CHECK(frame[0] == 0x02 && frame[v3 - 1] == 0x0A);
  FUZZ_CHECK(is_check_char(frame[v3 - 3]) && is_check_char(frame[v3 - 2]));
  bool code_clean = true;
  for (std::size_t i = 0; i < package::kAccessCodeSize; ++i)
    if (protocol::is_excluded(static_cast<std::uint8_t>(r.access_code[i]))) code_clean = false;
  if (scrambled && code_clean)
    for (std::int32_t i = 4; i < v3 - 3; ++i) FUZZ_CHECK(!protocol::is_excluded(frame[i]));
  if (!scrambled) FUZZ_CHECK(std::memcmp(frame.get() + 10, r.access_code, package::kAccessCodeSize) == 0);
  return 0;
}
