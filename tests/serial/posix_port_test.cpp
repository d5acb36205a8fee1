// The Linux port on a real pseudo-terminal: the request time-outs, the line settings as the far
// side sees them, and exclusive use.
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <thread>

#include "serial/discovery.h"
#include "serial/host.h"
#include "serial/port_posix.h"
#include "serial/timed_io.h"

namespace {

using Clock = std::chrono::steady_clock;

long ms_since(Clock::time_point t0) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}

// The printer's end of the line is the pty master; the updater opens the slave by its path.
struct Pty {
  int master = -1;
  std::string slave;
  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) slave = ptsname(master);
  }
  ~Pty() {
    if (master >= 0) ::close(master);
  }
  void send(const std::string& s) const { ASSERT_EQ(::write(master, s.data(), s.size()), static_cast<ssize_t>(s.size())); }
  std::string receive(std::size_t n) const {
    std::string s(n, '\0');
    std::size_t got = 0;
    while (got < n) {
      const ssize_t r = ::read(master, s.data() + got, n - got);
      if (r <= 0) break;
      got += static_cast<std::size_t>(r);
    }
    s.resize(got);
    return s;
  }
  termios settings() const {
    termios t{};
    tcgetattr(master, &t);  // on Linux the master reports the line's (slave's) settings
    return t;
  }
};

// An opened port on a fresh pty.
struct OpenLine {
  Pty pty;
  serial::PosixPort port;
  OpenLine() { port.attach(serial::open_port(pty.slave.c_str(), 9600)); }
  ~OpenLine() { port.close(); }
};

TEST(PosixOpenPort, SetsTheLineForEveryTableSpeed) {
  const struct {
    std::uint32_t speed;
    speed_t code;
  } table[] = {{9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};
  for (const auto& s : table) {
    SCOPED_TRACE(s.speed);
    Pty pty;
    ASSERT_FALSE(pty.slave.empty());
    // Start from a line that is wrong in every respect the updater sets, with receive-side
    // XON/XOFF on, which must be left alone.
    termios dirty = pty.settings();
    cfsetispeed(&dirty, B300);
    cfsetospeed(&dirty, B300);
    dirty.c_cflag = (dirty.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB;
    dirty.c_iflag |= IXON | IXOFF | ICRNL;
    dirty.c_oflag |= OPOST;
    dirty.c_lflag |= ICANON | ECHO;
    ASSERT_EQ(tcsetattr(pty.master, TCSANOW, &dirty), 0);

    const int fd = serial::open_port(pty.slave.c_str(), s.speed);
    ASSERT_GE(fd, 0);
    const termios t = pty.settings();
    EXPECT_EQ(cfgetospeed(&t), s.code);
    EXPECT_EQ(cfgetispeed(&t), s.code);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (IXON | ICRNL), 0u);
    EXPECT_NE(t.c_iflag & IXOFF, 0u) << "receive-side flow control stays as the port had it";
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    ::close(fd);
  }
}

TEST(PosixOpenPort, RefusesWhatItCannotUse) {
  Pty pty;
  EXPECT_EQ(serial::open_port(pty.slave.c_str(), 4800), -1) << "not a table speed";
  EXPECT_EQ(serial::open_port(pty.slave.c_str(), 0), -1);
  EXPECT_EQ(serial::open_port("/nonexistent/ttyZ9", 9600), -1);
  EXPECT_EQ(serial::open_port(nullptr, 9600), -1);
  char file[] = "/tmp/zorven-not-a-tty-XXXXXX";
  const int tmp = mkstemp(file);
  ASSERT_GE(tmp, 0);
  EXPECT_EQ(serial::open_port(file, 9600), -1) << "a plain file is no serial line";
  ::close(tmp);
  ::unlink(file);
}

TEST(PosixOpenPort, HoldsThePortExclusively) {
  Pty pty;
  const int first = serial::open_port(pty.slave.c_str(), 9600);
  ASSERT_GE(first, 0);
  EXPECT_EQ(serial::open_port(pty.slave.c_str(), 9600), -1);
  ::close(first);
  const int again = serial::open_port(pty.slave.c_str(), 19200);
  EXPECT_GE(again, 0) << "free again once closed";
  if (again >= 0) ::close(again);
}

// A read request of four bytes with some on the line already and the rest (or all) later.
struct ReadTiming {
  const char* name;
  const char* before;  // on the line when the request starts
  const char* later;   // sent `later_ms` after it started
  int later_ms;
  const char* want;    // what the request returns
  long min_ms, max_ms;  // when it returns
};

const ReadTiming kReadTimings[] = {
    // No interval wait once the request is complete.
    {"ReturnsAsSoonAsAllBytesArrived", "", "ABCD", 100, "ABCD", 0, 450},
    // The interval time-out ends it; the late bytes are not part of it.
    {"EndsAboutHalfASecondAfterTheLastByte", "AB", "CD", 900, "AB", 450, 880},
};

void PrintTo(const ReadTiming& c, std::ostream* os) { *os << c.name; }

class PosixPortRead : public testing::TestWithParam<ReadTiming> {};

TEST_P(PosixPortRead, EndsWhenItsTimeOutsSay) {
  const ReadTiming& c = GetParam();
  OpenLine line;
  ASSERT_GE(line.port.fd(), 0);
  if (*c.before) line.pty.send(c.before);
  std::thread printer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(c.later_ms));
    line.pty.send(c.later);
  });
  char buf[4];
  std::uint32_t got = 0;
  const auto t0 = Clock::now();
  EXPECT_TRUE(line.port.read(buf, 4, got));
  const long took = ms_since(t0);
  printer.join();
  EXPECT_EQ(got, std::strlen(c.want));
  EXPECT_EQ(std::string(buf, got), c.want);
  if (c.min_ms > 0) {
    EXPECT_GE(took, c.min_ms);
  }
  EXPECT_LT(took, c.max_ms);
}

INSTANTIATE_TEST_SUITE_P(PosixPort, PosixPortRead, testing::ValuesIn(kReadTimings),
                         [](const testing::TestParamInfo<ReadTiming>& i) { return std::string(i.param.name); });

TEST(PosixPort, ReadEndsAboutOneSecondAfterItBegan) {
  // With nothing at all, and with bytes trickling in closer than the interval.
  for (bool trickle : {false, true}) {
    SCOPED_TRACE(trickle);
    OpenLine line;
    ASSERT_GE(line.port.fd(), 0);
    bool done = false;
    std::thread printer([&] {
      for (int i = 0; trickle && i < 8; ++i) {
        line.pty.send("x");
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
      }
      done = true;
    });
    char buf[64];
    std::uint32_t got = 0;
    const auto t0 = Clock::now();
    EXPECT_TRUE(line.port.read(buf, sizeof buf, got));
    const long took = ms_since(t0);
    printer.join();
    EXPECT_TRUE(done);
    EXPECT_GE(took, 950);
    EXPECT_LT(took, 1600);
    if (trickle) {
      EXPECT_GE(got, 3u);
      EXPECT_LE(got, 5u);
    } else {
      EXPECT_EQ(got, 0u);
    }
  }
}

TEST(PosixPort, WritesReachTheFarEndAndAStuckWriteEndsShort) {
  OpenLine line;
  ASSERT_GE(line.port.fd(), 0);
  std::uint32_t written = 0;
  EXPECT_TRUE(line.port.write("HELLO", 5, written));
  EXPECT_EQ(written, 5u);
  EXPECT_EQ(line.pty.receive(5), "HELLO");

  // Nobody reads the far end: the write limit ends the request short instead of blocking.
  static char big[1 << 20];
  const auto t0 = Clock::now();
  EXPECT_TRUE(line.port.write(big, sizeof big, written));
  const long took = ms_since(t0);
  EXPECT_LT(written, sizeof big);
  EXPECT_GE(took, 950);
  EXPECT_LT(took, 2000);
}

// A pulled adapter or a closed far end: the request fails at once, as a failed ReadFile does,
// instead of idling to its time-out like a silent line.
TEST(PosixPort, ReadFailsWhenTheFarEndHangsUp) {
  OpenLine line;
  ASSERT_GE(line.port.fd(), 0);
  ::close(line.pty.master);
  line.pty.master = -1;
  char buf[4];
  std::uint32_t got = 0;
  EXPECT_FALSE(line.port.read(buf, 4, got));
  EXPECT_EQ(got, 0u);
}

TEST(PosixPort, QueuedCountsWaitingInputAndDrainedWriteDropsIt) {
  OpenLine line;
  ASSERT_GE(line.port.fd(), 0);
  line.pty.send("0123456789");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(line.port.queued(), 10u);

  std::int32_t timeout = 2;
  std::uint32_t stop = 0;
  static char drain[serial::kDrainAreaSize];
  serial::Line l{line.port, serial::console_host(), timeout, stop, drain};
  EXPECT_EQ(serial::drained_write(l, "PING\r\n", 6), 1);
  EXPECT_EQ(line.port.queued(), 0u);
  EXPECT_EQ(line.pty.receive(6), "PING\r\n");

  line.pty.send("OK\r\n");
  char reply[serial::kReplyBufferSize];
  EXPECT_EQ(serial::line_read(l, reply, sizeof reply), 2);
  EXPECT_EQ(std::string(reply, 2), "OK");
}

TEST(PosixDiscovery, MarksNothingAndClearsTheTable) {
  std::uint8_t presence[serial::kPresenceSize];
  std::memset(presence, 1, sizeof presence);
  EXPECT_EQ(serial::discover_ports(presence), 0);
  for (std::uint8_t p : presence) EXPECT_EQ(p, 0);
}

}  // namespace
