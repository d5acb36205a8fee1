// Two block reads one after the other, each into a buffer of exactly the size it asks for.
//
// Input: reply timeout (signed byte mod 12), the two sizes wanted (0..255), then the line
// operations (fuzz_line.h); STOP (0xC0) raises the stop request at the next pump.
//
// Checked for each read, against what the port delivered during it: every request asks for
// exactly the room left; the buffer holds the delivered bytes from its start and zeros behind
// them; the result is the number wanted after a failed request, else the running count (per
// request the bytes it brought plus the position of the first LF among them); exactly one pump
// follows every idle request and none follows one that brought bytes; and the read ends at the
// first request after which the count is complete, the timeout has passed, or (idle) the stop
// request is raised, and at no other.
#include <memory>

#include "serial/timed_io.h"
#include "tests/fuzz/fuzz_line.h"

namespace {

void check_one_read(fuzz::FuzzPort& port, fakes::FakeHost& host, serial::Line& line, std::uint32_t n) {
  auto buf = std::make_unique<std::uint8_t[]>(n);
  for (std::uint32_t i = 0; i < n; ++i) buf[i] = 0xEE;  // not left by the read
  const bool stop_before = line.stop_request != 0;  // raised by a STOP during the first read
  const std::size_t from = port.events.size();
  const std::int64_t start = host.t;
  const std::int32_t result = serial::block_read(line, buf.get(), n);
  const std::size_t to = port.events.size();
  const auto& ev = port.events;
  const std::int64_t timeout = line.reply_timeout;

  FUZZ_CHECK(to > from);
  std::uint32_t stored = 0;
  std::int64_t count = 0;
  bool stopped = false;
  for (std::size_t i = from; i < to; ++i) {
    const fuzz::Event& e = ev[i];
    FUZZ_CHECK(e.kind == fuzz::Kind::kRead);
    // The read already ended if the request before this one completed it, timed out or was
    // idle with the stop request raised; and a failed request ends it at once.
    if (i > from) {
      FUZZ_CHECK(ev[i - 1].ok);
      FUZZ_CHECK(count < static_cast<std::int64_t>(n));
      FUZZ_CHECK(ev[i - 1].after - start < timeout);
      FUZZ_CHECK(!stopped);
    }
    FUZZ_CHECK(e.want == n - stored);
    const std::size_t lf = e.bytes.find('\n');
    count += e.got + (lf == std::string::npos ? 0 : lf);
    FUZZ_CHECK(std::memcmp(buf.get() + stored, e.bytes.data(), e.got) == 0);
    stored += e.got;
    // The pump after an idle request, and only there.
    const bool idle = e.ok && e.got == 0;
    const bool pumped = i + 1 < ev.size() && ev[i + 1].kind == fuzz::Kind::kPump;
    FUZZ_CHECK(pumped == idle);
    if (pumped) {
      ++i;  // the pump belongs to this request
      stopped = stop_before || ev[i].press == fuzz::Press::kStop;
    }
  }
  for (std::uint32_t i = stored; i < n; ++i) FUZZ_CHECK(buf[i] == 0);

  const fuzz::Event& last = ev[to - 1].kind == fuzz::Kind::kPump ? ev[to - 2] : ev[to - 1];
  if (!last.ok) {
    FUZZ_CHECK(result == static_cast<std::int32_t>(n));
  } else {
    FUZZ_CHECK(result == count);
    // It ended for one of its three reasons.
    FUZZ_CHECK(count >= static_cast<std::int64_t>(n) || last.after - start >= timeout || stopped);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Header header(data, size);
  const std::int32_t timeout = static_cast<std::int8_t>(header.next()) % 12;
  const std::uint32_t first = header.next();
  const std::uint32_t second = header.next();

  fakes::FakeHost host;
  fuzz::FuzzPort port(data, size, host);
  std::uint32_t stop = 0;
  host.on_pump = [&] {
    if (port.pump() == fuzz::Press::kStop) stop = 1;
  };
  auto drain = std::make_unique<char[]>(serial::kDrainAreaSize);
  serial::Line line{port, host, timeout, stop, drain.get()};

  check_one_read(port, host, line, first);
  check_one_read(port, host, line, second);
  return 0;
}
