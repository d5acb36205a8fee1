// block-loop: the platform's floor for the transfer benchmark. A console program with no window
// that updates the printer on a port with exactly the dialog's exchange and nothing it need not
// wait for: the identification query (its reply read to the end by the query itself), the entry
// handshake and the announce line through the updater's own code with the console host, then for
// each block the same serial calls zorven.exe makes, in the same order and with nothing between
// them: drain (ClearCommError, then ReadFile of what is waiting), WriteFile of the block, drain,
// WriteFile of the CRC, then ReadFile byte by byte up to the verdict's LF; and at the end the
// closing "WAIT". Each reply is awaited with the updater's reply timeout for it. What the dialog
// adds to this (the pump and the progress bar after each verdict, the log lines) is its own cost.
//
//   block-loop COMn SPEED
//
// Exit code 0 when the printer took the whole image and answered "WAIT".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "package/package.h"
#include "package/protocol_constants.h"
#include "protocol/handshake.h"
#include "protocol/identify.h"
#include "serial/port_win32.h"
#include "serial/timed_io.h"
#include "update/crc16.h"
#include "update/transfer.h"

namespace {

char g_text[serial::kDrainAreaSize];
char g_drain[serial::kDrainAreaSize];

void drain(HANDLE h) {
  COMSTAT status{};
  DWORD errors = 0;
  ClearCommError(h, &errors, &status);
  DWORD waiting = status.cbInQue;
  while (waiting > 0) {
    DWORD got = 0;
    const DWORD chunk = waiting < sizeof g_drain ? waiting : static_cast<DWORD>(sizeof g_drain);
    if (!ReadFile(h, g_drain, chunk, &got, nullptr) || got == 0) break;
    waiting -= got < waiting ? got : waiting;
  }
}

// The verdict up to its LF; false when a request brought nothing (the port's time-out).
bool read_verdict(HANDLE h, char* line, std::size_t cap) {
  std::size_t n = 0;
  for (;;) {
    char c = 0;
    DWORD got = 0;
    if (!ReadFile(h, &c, 1, &got, nullptr) || got == 0) return false;
    if (c == '\n') break;
    if (n + 1 < cap) line[n++] = c;
  }
  line[n] = 0;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: block-loop COMn SPEED\n", stderr);
    return 2;
  }
  const HANDLE h = serial::open_port(argv[1], static_cast<std::uint32_t>(std::atoi(argv[2])));
  if (h == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "block-loop: cannot open %s\n", argv[1]);
    return 1;
  }
  serial::Win32Port port(h);
  std::int32_t reply_timeout = package::kQueryReplyTimeout;
  std::uint32_t stop_request = 0;
  serial::Line line{port, serial::console_host(), reply_timeout, stop_request, g_text};

  package::Record& pkg = package::embedded();
  char serial_number[serial::kReplyBufferSize] = {};
  // The query reads its reply to the end (checksum characters and LF) itself, as in the dialog's
  // run: nothing of it is left for the handshake, and nothing more is awaited here.
  protocol::identification_query(line, pkg, serial_number);
  reply_timeout = package::kHandshakeReplyTimeout;  // and every block's verdict
  std::uint8_t reply[serial::kReplyBufferSize] = {};
  std::int32_t count = 0;
  if (protocol::entry_handshake(line, pkg, reply, count) != 1) {
    std::fputs("block-loop: entry handshake failed\n", stderr);
    return 1;
  }
  char announce[update::kAnnounceBufferSize];
  const std::int32_t announce_len = update::build_announce_line(pkg, announce);
  char verdict[serial::kReplyBufferSize];
  if (serial::drained_write(line, announce, static_cast<std::uint32_t>(announce_len)) != 1 ||
      serial::line_read(line, verdict, sizeof verdict) < 2 || std::strncmp(verdict, "OK", 2) != 0) {
    std::fputs("block-loop: no OK to the announce line\n", stderr);
    return 1;
  }

  const std::uint8_t* next = package::image(pkg);
  std::uint32_t remaining = package::image_length(pkg);
  while (remaining != 0) {
    const std::uint32_t n = remaining < update::kBlockSize ? remaining : update::kBlockSize;
    drain(h);
    DWORD written = 0;
    if (!WriteFile(h, next, n, &written, nullptr) || written != n) return 1;
    const std::uint16_t crc = update::crc16(next, n);
    const std::uint8_t crc_bytes[2] = {static_cast<std::uint8_t>(crc & 0xFF), static_cast<std::uint8_t>(crc >> 8)};
    drain(h);
    WriteFile(h, crc_bytes, 2, &written, nullptr);
    if (!read_verdict(h, verdict, sizeof verdict)) return 1;
    if (std::strncmp(verdict, "OK", 2) == 0) {
      next += n;
      remaining -= n;
    } else if (std::strncmp(verdict, "RETRY", 5) != 0) {
      return 1;
    }
  }
  reply_timeout = package::kClosingReplyTimeout;
  const bool wait = serial::line_read(line, verdict, sizeof verdict) >= 4 && std::strncmp(verdict, "WAIT", 4) == 0;
  CloseHandle(h);
  std::printf("block-loop: %s\n", wait ? "update ok" : "no WAIT");
  return wait ? 0 : 1;
}
