// Two reply lines read one after the other into one buffer, each cut and matched against the
// reply words as the image transfer does it.
//
// Input: reply timeout (signed byte mod 12), buffer size (below 0x80: the 1024-byte reply buffer,
// else 0..31 bytes), then the line operations (fuzz_line.h).
//
// Checked for each read, against what the port delivered during it: the count is the number of
// line bytes before the first CR or LF, limited to the buffer less two; those bytes are stored
// from the start; the read consumes nothing past LF, or past CR and the byte after it; a read
// without a complete end of line ended on a failed request or with the reply timeout passed, and
// never began a request once the timeout had passed (the request that follows a CR excepted);
// the buffer is not touched past the stored bytes; the cut writes one terminator at the count;
// and the count with the reply match says "begins with OK / RETRY / WAIT" exactly when the line
// does.
#include <memory>

#include "package/package.h"
#include "package/protocol_constants.h"
#include "serial/timed_io.h"
#include "tests/fuzz/fuzz_line.h"

namespace {

void check_one_read(fuzz::FuzzPort& port, fakes::FakeHost& host, serial::Line& line, char* dst, std::size_t cap) {
  const std::string before(dst, cap);
  const std::size_t from = port.events.size();
  const std::int64_t start = host.t;
  const std::int32_t count = serial::line_read(line, dst, cap);
  const std::size_t to = port.events.size();
  const auto& ev = port.events;
  const std::int64_t timeout = line.reply_timeout;

  FUZZ_CHECK(to > from);  // at least one request
  for (std::size_t i = from; i < to; ++i) FUZZ_CHECK(ev[i].kind == fuzz::Kind::kRead && ev[i].want == 1);

  const std::string got = fuzz::delivered(ev, from, to);
  const std::size_t end = got.find_first_of("\r\n");
  const std::string text = fuzz::line_of(got);
  const std::size_t limit = cap > 2 ? cap - 2 : 0;
  FUZZ_CHECK(count >= 0);
  const auto n = static_cast<std::size_t>(count);
  FUZZ_CHECK(n == (text.size() < limit ? text.size() : limit));
  FUZZ_CHECK(std::memcmp(dst, text.data(), n) == 0);

  // The request that delivered the CR, if one did.
  std::size_t cr_request = to;
  if (end != std::string::npos && got[end] == '\r') {
    std::size_t seen = 0;
    for (std::size_t i = from; i < to && cr_request == to; ++i) {
      seen += ev[i].bytes.size();
      if (seen > end) cr_request = i;
    }
  }

  std::size_t touched = n;  // the buffer is unchanged from here on
  if (end == std::string::npos) {
    // Cut off: by a failed request, which ends the read at once, or by the timeout.
    FUZZ_CHECK(!ev[to - 1].ok || ev[to - 1].after - start >= timeout);
    for (std::size_t i = from; i + 1 < to; ++i) FUZZ_CHECK(ev[i].ok);
  } else if (got[end] == '\n') {
    FUZZ_CHECK(got.size() == end + 1);
    if (n < cap) FUZZ_CHECK(dst[n] == '\n');
    touched = n + 1;
    for (std::size_t i = from; i + 1 < to; ++i) FUZZ_CHECK(ev[i].ok);
  } else {
    FUZZ_CHECK(got.size() <= end + 2);
    if (n < cap) FUZZ_CHECK(dst[n] == '\r');
    touched = n + 1;
    if (got.size() == end + 2) {
      if (n + 1 < cap) FUZZ_CHECK(dst[n + 1] == got[end + 1]);
      touched = n + 2;
    } else {
      FUZZ_CHECK(ev[to - 1].after - start >= timeout);  // the byte after the CR never came
    }
    for (std::size_t i = from; i < cr_request; ++i) FUZZ_CHECK(ev[i].ok);
  }
  for (std::size_t i = touched; i < cap; ++i) FUZZ_CHECK(dst[i] == before[i]);

  // No request begins once the timeout has passed, except the first and the one after the CR.
  for (std::size_t i = from + 1; i < to; ++i)
    if (i != cr_request + 1) FUZZ_CHECK(ev[i].before - start < timeout);

  if (cap == serial::kReplyBufferSize) {
    for (const char* word : {package::kWordOk, package::kWordRetry, package::kWordWait}) {
      const std::size_t wn = package::reply_word_length(word);
      const bool matched = n >= wn && serial::reply_match(dst, word, wn) == 1;
      FUZZ_CHECK(matched == fuzz::begins_with(text, word));
    }
  }
  if (cap >= 1) {
    const std::string uncut(dst, cap);
    serial::reply_cut(dst, count);
    FUZZ_CHECK(dst[n] == '\0');
    for (std::size_t i = 0; i < cap; ++i)
      if (i != n) FUZZ_CHECK(dst[i] == uncut[i]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Header header(data, size);
  const std::int32_t timeout = static_cast<std::int8_t>(header.next()) % 12;
  const std::uint8_t size_byte = header.next();
  const std::size_t cap = size_byte < 0x80 ? serial::kReplyBufferSize : (size_byte & 0x1F);

  fakes::FakeHost host;
  fuzz::FuzzPort port(data, size, host);
  const std::uint32_t stop = 0;
  auto drain = std::make_unique<char[]>(serial::kDrainAreaSize);
  serial::Line line{port, host, timeout, stop, drain.get()};

  // Exactly the buffer's size, so that a byte stored past it is caught; stale reply words in it.
  auto buf = std::make_unique<char[]>(cap);
  for (std::size_t i = 0; i < cap; ++i) buf[i] = "OKRETRYWAIT\r\n"[i % 13];

  check_one_read(port, host, line, buf.get(), cap);
  check_one_read(port, host, line, buf.get(), cap);
  return 0;
}
