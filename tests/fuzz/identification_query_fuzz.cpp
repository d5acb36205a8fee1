// The identification query of every protocol variant, with the 1-second reply timeout the update
// run gives it.
//
// Input: protocol variant (low 3 bits; 7 stands for 255), then the line operations
// (fuzz_line.h); STOP (0xC0) raises the stop request at the next pump.
//
// Checked: variants other than 0, 1 and 4 leave the line alone and the serial number empty; the
// others write the 7 query bytes once and nothing else; the serial number is always a terminated
// text of at most 127 characters with no ';', no control byte and no DEL, so it can stand as the
// first field of a production log line; it is empty unless the query succeeded; and a success
// needs a reply that began with STX and held a ';'.
#include <memory>

#include "protocol/identify.h"
#include "tests/fuzz/fuzz_line.h"
#include "tests/support/records.h"
#include "tests/support/scripted_printer.h"

namespace {

package::Record& record() {
  static auto r = fakes::RecordBuilder().build();  // the query reads the variant only
  return *r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Header header(data, size);
  const std::uint8_t v = header.next() & 0x07;
  package::Record& pkg = record();
  pkg.variant = v == 7 ? 0xFF : v;

  fakes::FakeHost host;
  fuzz::FuzzPort port(data, size, host);
  std::uint32_t stop = 0;
  host.on_pump = [&] {
    if (port.pump() == fuzz::Press::kStop) stop = 1;
  };
  const std::int32_t timeout = 1;
  auto drain = std::make_unique<char[]>(serial::kDrainAreaSize);
  serial::Line line{port, host, timeout, stop, drain.get()};

  auto serial_number = std::make_unique<char[]>(protocol::kSerialNumberSize);
  std::memset(serial_number.get(), 'x', protocol::kSerialNumberSize);  // a former serial number, unterminated
  const int ok = protocol::identification_query(line, pkg, serial_number.get());

  const auto& ev = port.events;
  const std::string sn(serial_number.get(), strnlen(serial_number.get(), protocol::kSerialNumberSize));
  FUZZ_CHECK(sn.size() < protocol::kSerialNumberSize);
  FUZZ_CHECK(ok == 0 || ok == 1);
  if (ok == 0) FUZZ_CHECK(sn.empty());
  for (char c : sn) {
    const auto b = static_cast<unsigned char>(c);
    FUZZ_CHECK(b >= 0x20 && b != 0x7F && c != ';');
  }

  const bool has_query = pkg.variant == 0 || pkg.variant == 1 || pkg.variant == 4;
  if (!has_query) {
    FUZZ_CHECK(ok == 0);
    FUZZ_CHECK(ev.empty());
    return 0;
  }
  std::size_t writes = 0;
  for (const fuzz::Event& e : ev) {
    if (e.kind != fuzz::Kind::kWrite) continue;
    ++writes;
    FUZZ_CHECK(e.want == fakes::kIdentificationQuery.size());
    FUZZ_CHECK(std::memcmp(e.bytes.data(), fakes::kIdentificationQuery.data(), e.got) == 0);
  }
  FUZZ_CHECK(writes == 1);
  if (ok == 1) {
    const std::string reply = fuzz::delivered(ev, 0, ev.size());
    FUZZ_CHECK(!reply.empty() && reply[0] == '\x02');
    FUZZ_CHECK(reply.find(';') != std::string::npos);
  }
  return 0;
}
