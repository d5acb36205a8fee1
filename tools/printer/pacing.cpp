#include "tools/printer/pacing.h"

#include <sys/prctl.h>

#include <algorithm>
#include <cstddef>

#include "tools/printer/clock.h"
#include "tools/printer/line.h"

namespace printer {
namespace {

constexpr std::int64_t kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
constexpr std::size_t kUsbPacketBytes = 62;  // data bytes of one packet of an FTDI adapter
constexpr std::size_t kReplyEnd = 3;         // the identification reply's checksum characters and LF

}  // namespace

Pacing pty_pacing(std::uint32_t baud, std::uint32_t usb_latency_ms) {
  Pacing p;
  if (baud != 0) p.byte_ns = kBitsPerByte * 1'000'000'000 / baud;
  p.usb_ns = static_cast<std::int64_t>(usb_latency_ms) * 1'000'000;
  if (baud != 0 || usb_latency_ms != 0) prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  return p;
}

// Paced, the reply goes out as from a UART that may start it at `start` (or once the wire is
// free) and puts one byte out every byte time. No byte leaves before its stop bit would be out; a
// late wake-up delays only the byte it was for, not the bytes after it, so the printer's own
// lateness does not add up over a reply.
//
// Behind a USB serial adapter (usb_ns set) the host sees no single bytes: the adapter collects
// what comes off the wire and hands it over as one packet when kUsbPacketBytes are in or when its
// latency timer, started by the packet's first byte, runs out, whichever comes first.
void transmit(int fd, Pacing& p, const std::string& r, std::int64_t start) {
  if (p.usb_ns == 0 && p.byte_ns == 0) {
    write_all(fd, r.data(), r.size());
    return;
  }
  std::int64_t end = p.byte_ns != 0 ? std::max(p.tx_free, start) : now_ns();
  if (p.usb_ns == 0) {
    for (char c : r) {
      end += p.byte_ns;
      sleep_until(end);  // the byte is at the far end once its stop bit is out
      write_all(fd, &c, 1);
    }
    p.tx_free = end;
    return;
  }
  std::size_t sent = 0;
  while (sent < r.size()) {
    const std::int64_t timer_out = end + p.byte_ns + p.usb_ns;
    std::size_t n = 0;
    while (sent + n < r.size() && n < kUsbPacketBytes && end + p.byte_ns <= timer_out) {
      end += p.byte_ns;
      ++n;
    }
    sleep_until(n == kUsbPacketBytes ? end : timer_out);
    write_all(fd, r.data() + sent, n);
    sent += n;
  }
  if (p.byte_ns != 0) p.tx_free = end;
}

void transmit_held_end(int fd, Pacing& p, const std::string& r, std::int64_t start, std::int64_t late_ns,
                       bool never) {
  if ((late_ns == 0 && !never) || r.size() < kReplyEnd) {
    transmit(fd, p, r, start);
    return;
  }
  transmit(fd, p, r.substr(0, r.size() - kReplyEnd), start);
  if (never) return;
  if (p.byte_ns != 0) {
    transmit(fd, p, r.substr(r.size() - kReplyEnd), p.tx_free + late_ns);
  } else {
    sleep_until(now_ns() + late_ns);
    transmit(fd, p, r.substr(r.size() - kReplyEnd), start);
  }
}

}  // namespace printer
