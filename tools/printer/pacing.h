// How the printer's replies reach the updater on a pty, which has no UART of its own: without
// pacing they are written as they come; paced, byte by byte at the line rate, as a UART puts them
// on the wire; and behind a USB serial adapter, in the packets the adapter hands to the host.
#pragma once

#include <cstdint>
#include <string>

namespace printer {

struct Pacing {
  std::int64_t byte_ns = 0;  // wire time of one byte; 0: no pacing
  std::int64_t rx_free = 0;  // when the receive wire is next idle
  std::int64_t tx_free = 0;  // when the transmit wire is next idle
  std::int64_t usb_ns = 0;   // latency timer of the USB adapter the host reads through; 0: none
};

// The pacing of a pty line at `baud` (0: none) behind an adapter with a latency timer of
// `usb_latency_ms` (0: none). With either, the thread's timer slack is cut to 1 ns: the kernel
// may let a timed sleep run over by it (50 us by default), which would make every paced byte late
// by up to that much.
Pacing pty_pacing(std::uint32_t baud, std::uint32_t usb_latency_ms);

// Sends one reply as the pacing has it, the first byte no earlier than `start` (a now_ns() time)
// when the line is paced.
void transmit(int fd, Pacing& p, const std::string& reply, std::int64_t start);

// The identification reply, with its end (checksum characters and LF) held back as a USB serial
// adapter may hold it: `late_ns` after the rest, or never.
void transmit_held_end(int fd, Pacing& p, const std::string& reply, std::int64_t start, std::int64_t late_ns,
                       bool never);

}  // namespace printer
