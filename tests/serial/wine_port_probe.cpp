// A small Windows program that wine_port_check.py runs under Wine against a COM port mapped to a
// pty, whose far end the script plays from Linux.
//   open <port> <speed>   open the port, close it; exit 0, or 2 when it cannot be opened
//   io <port>             open at 9600 and exchange with the script (see wine_port_check.py)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "serial/port_win32.h"
#include "serial/timed_io.h"

namespace {

int fail(const char* what) {
  std::printf("FAIL: %s\n", what);
  return 1;
}

int run_io(const char* name) {
  HANDLE h = serial::open_port(name, 9600);
  if (h == INVALID_HANDLE_VALUE) return fail("open");
  serial::Win32Port port(h);

  // The far end stays silent until our PING: one request ends on the port's 1000 ms limit.
  char buf[serial::kReplyBufferSize];
  std::uint32_t got = 99;
  const DWORD t0 = GetTickCount();
  const bool ok = port.read(buf, 4, got);
  const DWORD took = GetTickCount() - t0;
  std::printf("idle request: ok=%d got=%u took=%lu ms\n", ok, got, static_cast<unsigned long>(took));
  if (!ok || got != 0 || took < 800 || took > 3000) return fail("idle request");

  std::int32_t timeout = 5;
  std::uint32_t stop = 0;
  static char drain[serial::kDrainAreaSize];
  serial::Line line{port, serial::console_host(), timeout, stop, drain};
  if (serial::drained_write(line, "PING\r\n", 6) != 1) return fail("write");

  // The far end answers "PONG" CR LF followed by A LF B.
  const std::int32_t n = serial::line_read(line, buf, sizeof buf);
  if (n != 4 || std::memcmp(buf, "PONG", 4) != 0) return fail("line read");
  char block[4];
  const std::int32_t b = serial::block_read(line, block, sizeof block);
  if (b != 4 || std::memcmp(block, "A\nB", 3) != 0) return fail("block read");
  port.close();
  std::printf("io ok\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "open") == 0) {
    HANDLE h = serial::open_port(argv[2], static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10)));
    if (h == INVALID_HANDLE_VALUE) {
      std::printf("cannot open %s\n", argv[2]);
      return 2;
    }
    CloseHandle(h);
    std::printf("opened %s\n", argv[2]);
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "io") == 0) return run_io(argv[2]);
  std::printf("usage: open <port> <speed> | io <port>\n");
  return 64;
}
