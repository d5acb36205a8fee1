// The entry handshake of every protocol variant with the scramble flag clear and set, with the
// 5-second reply timeout the update run gives it, in a work buffer of exactly the longest frame.
//
// Input: protocol variant (low 3 bits; 7 stands for 255), scramble flag (low 2 bits: 0, 1,
// 0x80000000, 0xFFFFFFFF), then the line operations (fuzz_line.h); STOP (0xC0) raises the stop
// request at the next pump.
//
// Checked, with the access code "A1B2C3" whose frames are worked out by hand in the protocol
// tests: a variant above 4 fails at once with reply count 0 and leaves the line alone; every
// byte written is the variant's exchange in its order (common: one 13-byte frame; variant 2:
// wake-up, the frame only after an ACK, the closing ACK only on success; variant 3: the probe
// only with the flag set, the frame in the flag's form, at most one retry and that in the plain
// form, no second probe); a success needs the status '0' '0' at bytes 2 and 3 of the reply to
// the last frame; a printer that sent nothing and never failed a request gives reply count 0;
// and the package record is left as it was.
#include <memory>

#include "protocol/frames.h"
#include "package/protocol_constants.h"
#include "protocol/handshake.h"
#include "tests/fuzz/fuzz_line.h"
#include "tests/support/records.h"
#include "tests/protocol/expected_frames.h"

namespace {

using protocol_test::Bytes;

package::Record& record() {
  static auto r = fakes::RecordBuilder().build();
  return *r;
}

bool is(const fuzz::Event& e, const Bytes& b) {
  return e.kind == fuzz::Kind::kWrite && e.want == b.size() && e.bytes.size() <= b.size() &&
         std::memcmp(e.bytes.data(), b.data(), e.bytes.size()) == 0;
}

// The end of the exchange that follows the write at `w`: the next drain or write.
std::size_t reply_end(const std::vector<fuzz::Event>& ev, std::size_t w) {
  std::size_t next = w + 1;
  while (next < ev.size() && ev[next].kind != fuzz::Kind::kWrite && ev[next].kind != fuzz::Kind::kQueued) ++next;
  return next;
}

// The bytes that arrived after the write at `w`, up to the next drain or write.
std::string reply_to(const std::vector<fuzz::Event>& ev, std::size_t w) {
  return fuzz::delivered(ev, w + 1, reply_end(ev, w));
}

bool any_failed(const std::vector<fuzz::Event>& ev, std::size_t w) {
  for (std::size_t i = w + 1; i < reply_end(ev, w); ++i)
    if (ev[i].kind == fuzz::Kind::kRead && !ev[i].ok) return true;
  return false;
}

bool status_accepted(const std::string& reply) { return reply.size() >= 4 && reply[2] == '0' && reply[3] == '0'; }

int first_byte(const std::string& reply) { return reply.empty() ? -1 : static_cast<std::uint8_t>(reply[0]); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Header header(data, size);
  const std::uint8_t v = header.next() & 0x07;
  static constexpr std::uint32_t kFlags[4] = {0, 1, 0x80000000u, 0xFFFFFFFFu};
  const std::uint32_t flag = kFlags[header.next() & 0x03];

  package::Record& pkg = record();
  pkg.variant = v == 7 ? 0xFF : v;
  pkg.scramble_flag = flag;
  std::memcpy(pkg.access_code, protocol_test::kCodeA1B2C3, package::kAccessCodeSize);

  fakes::FakeHost host;
  fuzz::FuzzPort port(data, size, host);
  std::uint32_t stop = 0;
  host.on_pump = [&] {
    if (port.pump() == fuzz::Press::kStop) stop = 1;
  };
  const std::int32_t timeout = 5;
  auto drain = std::make_unique<char[]>(serial::kDrainAreaSize);
  serial::Line line{port, host, timeout, stop, drain.get()};

  auto work = std::make_unique<std::uint8_t[]>(protocol::kLongestFrame);
  std::int32_t reply_count = -1;
  const int ok = protocol::entry_handshake(line, pkg, work.get(), reply_count);

  FUZZ_CHECK(ok == 0 || ok == 1);
  FUZZ_CHECK(pkg.variant == (v == 7 ? 0xFF : v) && pkg.scramble_flag == flag);
  FUZZ_CHECK(std::memcmp(pkg.access_code, protocol_test::kCodeA1B2C3, package::kAccessCodeSize) == 0);

  const auto& ev = port.events;
  if (pkg.variant > 4) {
    FUZZ_CHECK(ok == 0 && reply_count == 0 && ev.empty());
    return 0;
  }
  FUZZ_CHECK(reply_count >= 0);

  std::vector<std::size_t> writes;
  bool heard = false;  // a byte arrived or a request failed
  for (std::size_t i = 0; i < ev.size(); ++i) {
    if (ev[i].kind == fuzz::Kind::kWrite) writes.push_back(i);
    if (ev[i].kind == fuzz::Kind::kRead && (!ev[i].ok || ev[i].got > 0)) heard = true;
  }
  FUZZ_CHECK(!writes.empty());
  if (!heard) FUZZ_CHECK(ok == 0 && reply_count == 0);
  const fuzz::Event& first = ev[writes[0]];

  const bool scrambled = flag != 0;
  switch (pkg.variant) {
    case 2: {
      FUZZ_CHECK(is(first, Bytes(package::kWakeUp, package::kWakeUp + 4)));
      FUZZ_CHECK(writes.size() <= 3);
      if (writes.size() >= 2) {
        FUZZ_CHECK(first_byte(reply_to(ev, writes[0])) == 0x06);
        FUZZ_CHECK(is(ev[writes[1]], protocol_test::kVariant2A1B2C3));
      }
      if (writes.size() == 3) FUZZ_CHECK(is(ev[writes[2]], Bytes{0x06}));
      FUZZ_CHECK(ok == (writes.size() == 3 ? 1 : 0));
      if (ok == 1) FUZZ_CHECK(status_accepted(reply_to(ev, writes[1])));
      break;
    }
    case 3: {
      std::size_t at = 0;
      if (scrambled) {
        FUZZ_CHECK(is(first, Bytes{0x17}));
        if (writes.size() > 1) FUZZ_CHECK(first_byte(reply_to(ev, writes[0])) == 0x11);
        at = 1;
      }
      FUZZ_CHECK(writes.size() <= at + 2);
      if (writes.size() > at) {
        FUZZ_CHECK(is(ev[writes[at]], scrambled ? protocol_test::kScrambledA1B2C3 : protocol_test::kPlainA1B2C3));
      }
      if (writes.size() > at + 1) {
        // A retry follows a refused reply only. (An LF among its first three bytes lets the
        // running count complete the 4-byte read early, and a failed request completes it with
        // zeros; then bytes 2 and 3 of the reply need not be the ones that read looked at.)
        const std::string refused = reply_to(ev, writes[at]);
        if (refused.substr(0, 3).find('\n') == std::string::npos && !any_failed(ev, writes[at]))
          FUZZ_CHECK(!status_accepted(refused));
        FUZZ_CHECK(is(ev[writes[at + 1]], protocol_test::kPlainA1B2C3));
      }
      if (ok == 1) FUZZ_CHECK(status_accepted(reply_to(ev, writes.back())));
      if (ok == 1) FUZZ_CHECK(writes.size() > at);
      break;
    }
    default:
      FUZZ_CHECK(writes.size() == 1);
      FUZZ_CHECK(is(first, protocol_test::kCommonA1B2C3));
      if (ok == 1) FUZZ_CHECK(status_accepted(reply_to(ev, writes[0])));
      break;
  }
  return 0;
}
