// What zorven-cli learns about a line on Linux: the block turnaround figures, the latency timer a
// USB serial driver shows in sysfs (read from a small system tree of the test's making), the
// request for low latency, and the terminal's warning.
#include <gtest/gtest.h>

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "cli/link.h"
#include "cli/link_posix.h"

namespace {

namespace fs = std::filesystem;
using std::chrono::microseconds;

TEST(Turnarounds, MedianP95AndMaxOfTheBlocksWaits) {
  struct Case {
    const char* what;
    std::vector<std::int64_t> waits_us;
    double median, p95, max;  // ms
  } cases[] = {
      {"none", {}, 0, 0, 0},
      {"one", {16400}, 16.4, 16.4, 16.4},
      // 19 waits of about 1 ms and one of 16 ms: the median and p95 stay with the many.
      {"one slow of twenty", {1050, 1050, 1050, 1050, 1050, 1050, 1050, 1050, 1050, 1050, 1050, 1050, 1050, 1050,
                              1050, 1050, 1050, 1050, 1050, 16000},
       1.1, 1.1, 16.0},
      {"ten steps", {1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000, 10000}, 5.1, 10.0, 10.0},
      // Longer than the histogram: counted in its last step, the longest kept exactly.
      {"beyond a second", {2000, 2500000}, 2.1, 1000.0, 2500.0},
      // The histogram's span exactly, and less than one step more: both in its last step.
      {"exactly a second", {2000, 1000000}, 2.1, 1000.0, 1000.0},
      {"a second and less than a step", {2000, 1000099}, 2.1, 1000.0, 1000.099},
  };
  for (const Case& c : cases) {
    auto t = std::make_unique<cli::Turnarounds>();
    for (std::int64_t us : c.waits_us) t->add(microseconds(us));
    EXPECT_EQ(t->count(), c.waits_us.size()) << c.what;
    EXPECT_NEAR(t->percentile_ms(50), c.median, 1e-9) << c.what;
    EXPECT_NEAR(t->percentile_ms(95), c.p95, 1e-9) << c.what;
    EXPECT_NEAR(t->max_ms(), c.max, 1e-9) << c.what;
  }
}

TEST(LinkRecord, CountsRetriesAndTimesTheVerdictsThatFollowAWrite) {
  struct Port final : serial::Port {
    bool read(void*, std::uint32_t, std::uint32_t& got) override { return got = 0, true; }
    bool write(const void*, std::uint32_t n, std::uint32_t& written) override { return written = n, true; }
    std::uint32_t queued() override { return 0; }
    void close() override {}
  } port;
  auto link = std::make_unique<cli::LinkRecord>();
  cli::WatchedPort watched(*link);
  watched.attach(&port);

  link->block_answered(false);  // nothing written yet: counted for nothing
  EXPECT_EQ(link->turnarounds.count(), 0u);

  std::uint32_t written = 0;
  const std::uint8_t crc[2] = {1, 2};
  for (bool retry : {false, true, false, true, true}) {
    ASSERT_TRUE(watched.write(crc, 2, written));
    link->block_answered(retry);
  }
  EXPECT_EQ(link->turnarounds.count(), 5u);
  EXPECT_EQ(link->retries, 3u);
}

TEST(LinkRecord, TurnaroundStartsWhenTheWriteRequestHasEnded) {
  // A write request that takes 50 ms, as a slow line's may: the time it took is not part of the
  // wait for the verdict.
  struct SlowPort final : serial::Port {
    bool read(void*, std::uint32_t, std::uint32_t& got) override { return got = 0, true; }
    bool write(const void*, std::uint32_t n, std::uint32_t& written) override {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      written = n;
      ended = std::chrono::steady_clock::now();
      return true;
    }
    std::uint32_t queued() override { return 0; }
    void close() override {}
    std::chrono::steady_clock::time_point ended;
  } port;
  auto link = std::make_unique<cli::LinkRecord>();
  cli::WatchedPort watched(*link);
  watched.attach(&port);

  std::uint32_t written = 0;
  const std::uint8_t crc[2] = {1, 2};
  ASSERT_TRUE(watched.write(crc, 2, written));
  link->block_answered(false);
  // The turnaround lies within the time from the end of the inner write to now, however long
  // this thread was held up in between; one that began with the write would hold its 50 ms too.
  const auto since_write =
      std::chrono::duration_cast<microseconds>(std::chrono::steady_clock::now() - port.ended);
  ASSERT_EQ(link->turnarounds.count(), 1u);
  EXPECT_LE(link->turnarounds.max_ms(), static_cast<double>(since_write.count()) / 1000.0);
}

struct SysTree {
  SysTree() {
    fs::remove_all(root);
    fs::create_directories(root / "dev/serial/by-id");
  }
  ~SysTree() { fs::remove_all(root); }

  // A device node (any file serves) and its sysfs folder; the latency timer file when given.
  void device(const char* name, const char* latency_timer) {
    std::ofstream(root / "dev" / name).put('\0');
    fs::create_directories(root / "sys/class/tty" / name / "device");
    if (latency_timer != nullptr) std::ofstream(root / "sys/class/tty" / name / "device/latency_timer") << latency_timer;
  }

  const fs::path root = fs::temp_directory_path() / ("zorven-link-" + std::to_string(::getpid()));
};

TEST(SysfsLatencyTimer, ReadsTheAdapterBehindTheNodeOrItsByIdName) {
  SysTree t;
  t.device("ttyUSB0", "16\n");
  t.device("ttyUSB1", "1\n");
  t.device("ttyUSB2", "sixteen\n");
  t.device("ttyS0", nullptr);  // a UART has no latency timer
  fs::create_symlink("../../ttyUSB0", t.root / "dev/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0");
  struct Case {
    const char* name;
    std::int32_t ms;
  } cases[] = {
      {"/dev/ttyUSB0", 16},
      {"/dev/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0", 16},
      {"/dev/ttyUSB1", 1},
      {"/dev/ttyUSB2", -1},  // not a number: not known
      {"/dev/ttyS0", -1},
      {"/dev/ttyUSB9", -1},  // no such device
  };
  for (const Case& c : cases) EXPECT_EQ(cli::sysfs_latency_timer(t.root.string(), c.name), c.ms) << c.name;
}

TEST(LowLatency, APtyHasNoSuchRequestAndStaysAsItWas) {
  int master = -1, slave = -1;
  ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  termios before{};
  ASSERT_EQ(::tcgetattr(slave, &before), 0);
  EXPECT_FALSE(cli::request_low_latency(slave));
  // The refused request leaves the line as it was and usable.
  termios after{};
  ASSERT_EQ(::tcgetattr(slave, &after), 0);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(::cfgetospeed(&after), ::cfgetospeed(&before));
  ASSERT_EQ(::write(master, "x\n", 2), 2);
  char got[2] = {};
  EXPECT_EQ(::read(slave, got, sizeof got), 2);
  EXPECT_EQ(got[0], 'x');
  ::close(master);
  ::close(slave);
}

TEST(LatencyWarning, OnlyForATimerAboveTwoMillisecondsAndSaysHowToLowerIt) {
  EXPECT_EQ(cli::latency_warning("/dev/ttyUSB0", {-1, false}), "");
  EXPECT_EQ(cli::latency_warning("/dev/ttyUSB0", {1, true}), "");
  EXPECT_EQ(cli::latency_warning("/dev/ttyUSB0", {2, false}), "");
  const std::string w = cli::latency_warning("/dev/null", {16, false});
  EXPECT_NE(w.find("/dev/null: warning: "), std::string::npos) << w;
  EXPECT_NE(w.find("latency timer is 16 ms"), std::string::npos) << w;
  EXPECT_NE(w.find("echo 1 > /sys/class/tty/null/device/latency_timer"), std::string::npos) << w;
  EXPECT_NE(w.find("udev rule"), std::string::npos) << w;
}

}  // namespace
