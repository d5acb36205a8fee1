// Whole update runs (run_update) against the running zorven-printer over a real pty: identification
// query, entry handshake and image transfer of every protocol variant, and the image the printer
// writes out compared byte for byte with the one the package carries; and a line of printers met
// as a station meets it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "package/package.h"
#include "protocol/identify.h"
#include "serial/port_posix.h"
#include "serial/timed_io.h"
#include "support/expected_log.h"
#include "support/pty_platform.h"
#include "support/records.h"
#include "support/run_control.h"
#include "support/run_fakes.h"
#include "update/run.h"

extern char** environ;

namespace {

constexpr char kAccessCode[7] = "QW7E2Z";
constexpr std::uint32_t kSpeed = 115200;
constexpr auto kExitWait = std::chrono::seconds(20);

// zorven-printer as a child process of the test; ended by its id if it outlives the test.
class PrinterProcess {
 public:
  ~PrinterProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (out_) std::fclose(out_);
  }

  // Starts it and reads the "PTY <path>" line. False when that fails.
  bool start(const std::vector<std::string>& args, const std::string& stderr_path) {
    int pipefd[2];
    if (pipe(pipefd) != 0) return false;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, pipefd[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&fa, pipefd[0]);
    posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    std::string prog = ZORVEN_PRINTER;
    argv.push_back(prog.data());
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, prog.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(pipefd[1]);
    if (rc != 0) {
      pid_ = -1;
      close(pipefd[0]);
      return false;
    }
    out_ = fdopen(pipefd[0], "r");
    char line[256] = {};
    if (!out_ || !std::fgets(line, sizeof line, out_)) return false;
    std::string s = line;
    if (s.rfind("PTY ", 0) != 0) return false;
    pty_ = s.substr(4, s.find('\n') - 4);
    return true;
  }

  const std::string& pty() const { return pty_; }

  // The exit status once it has exited on its own, or -1 after kExitWait.
  int wait_exit() {
    const auto end = std::chrono::steady_clock::now() + kExitWait;
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  std::FILE* out_ = nullptr;
  std::string pty_;
};

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::unique_ptr<package::Record> sample_package(int variant, bool scramble) {
  return fakes::RecordBuilder()
      .variant(variant)
      .scramble(scramble ? 1 : 0)
      .image_length(package::kImageCapacity)
      .sample_image()
      .version("ZORVEN E2E 1.0")
      .access_code(kAccessCode)
      .build();
}

struct RunOutcome {
  update::RunResult result;
  update::RunState state;
  fakes::RecordingObserver observer;
  fakes::PtyPlatform platform;
};

// One whole update run on the named device, as a front end starts it.
void update_on(const std::string& device, const package::Record& pkg, RunOutcome& out) {
  const update::RunRequest request{device.c_str(), kSpeed, "sn_build.txt"};
  out.result = fakes::run(request, out.observer, out.platform, out.state, pkg);
}

// The identification query alone on a port opened for it, as a station polls: the serial number
// that answered, or "" when none did.
std::string query_alone(const std::string& device, package::Record& pkg) {
  const int fd = serial::open_port(device.c_str(), kSpeed);
  if (fd < 0) return "open failed";
  serial::PosixPort port(fd);
  update::RunState st;
  serial::Line line{port, serial::console_host(), st.reply_timeout, st.stop_request, st.text};
  st.reply_timeout = 1;
  const int got = protocol::identification_query(line, pkg, st.serial_number);
  port.close();
  return got ? st.serial_number : "";
}

TEST(PrinterOverPty, EveryVariantDeliversTheWholeImage) {
  const struct {
    const char* name;
    int variant;
    bool scramble;
    const char* extra;  // one more printer option, or nullptr
  } cases[] = {
      {"variant 0", 0, false, nullptr},        {"variant 1", 1, false, nullptr},
      {"variant 2", 2, false, nullptr},        {"variant 3 scrambled", 3, true, nullptr},
      {"variant 3 plain", 3, false, nullptr},  {"variant 4", 4, true, nullptr},
      // The scrambled frame refused once: the updater's plain retry frame must get through.
      {"variant 3 plain retry", 3, true, "--refuse-first"},
  };
  const std::string dir = ::testing::TempDir();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto pkg = sample_package(c.variant, c.scramble);
    const std::string serial = "E2E-" + std::to_string(c.variant);
    const std::string image_out = dir + "printer_image_" + std::to_string(c.variant) + ".bin";
    const std::string log = dir + "printer_stderr.txt";
    std::remove(image_out.c_str());
    std::vector<std::string> args = {"--variant", std::to_string(c.variant), "--scramble", c.scramble ? "1" : "0",
                                     "--access-code", kAccessCode, "--serial", serial, "--version", pkg->version,
                                     "--image-length", std::to_string(pkg->image_length), "--out", image_out,
                                     "--once"};
    if (c.extra) args.push_back(c.extra);
    PrinterProcess printer;
    ASSERT_TRUE(printer.start(args, log));

    RunOutcome r;
    update_on(printer.pty(), *pkg, r);

    // Only variants 0, 1 and 4 are asked for their serial number; it goes into the production log.
    const bool with_query = c.variant == 0 || c.variant == 1 || c.variant == 4;
    EXPECT_EQ(std::string(r.result.serial_number), with_query ? serial : "");
    EXPECT_EQ(r.platform.appended,
              (std::vector<std::string>{(with_query ? serial : "") + ";X;12/06/26 03:57:54\r\n"}));
    EXPECT_EQ(r.result.outcome, update::Outcome::kFinished)
        << "handshake reply count " << r.result.failure.received_count;
    EXPECT_EQ(r.state.stop_request, 0u);
    EXPECT_EQ(r.observer.log, fakes::finished_run_log());
    ASSERT_FALSE(r.observer.positions.empty());
    EXPECT_EQ(r.observer.positions.back(), 100u);

    EXPECT_EQ(printer.wait_exit(), 0);  // --once: it leaves once the port is closed
    const std::string got = read_file(image_out);
    ASSERT_EQ(got.size(), pkg->image_length);
    EXPECT_EQ(std::memcmp(got.data(), pkg->image, got.size()), 0);
    std::remove(image_out.c_str());
    EXPECT_NE(read_file(log).find("summary: update ok; 655360 bytes received, 1242 blocks"), std::string::npos)
        << read_file(log);
  }
}

// Faults the printer injects, as the updater core sees them over the line.
TEST(PrinterOverPty, InjectedFaultsReachTheUpdater) {
  auto pkg = sample_package(4, true);
  pkg->image_length = 3 * 528;  // three blocks are enough here
  const struct {
    const char* name;
    std::vector<std::string> faults;
    update::Outcome outcome;
    fakes::Log log;
  } cases[] = {
      {"a forced retry", {"--retry-every", "2"}, update::Outcome::kFinished, fakes::finished_run_log(1)},
      // The reply's first four bytes: STX, its length, status "01".
      {"refused handshake", {"--refuse-handshake"}, update::Outcome::kBadReceipt,
       fakes::failed_run_log({"Bad Receipt: ", "0x02 0x23 0x30 0x31 "})},
      {"bad block verdict", {"--bad-reply-block", "2"}, update::Outcome::kBlockRefused,
       fakes::failed_run_log({"OK", "BUSY"})},
      {"garbage for the closing reply", {"--garbage", "wait"}, update::Outcome::kClosingRefused,
       fakes::failed_run_log({"OK", "GARBAGE", "Bad printer response."})},
  };
  const std::string log = ::testing::TempDir() + "printer_fault_stderr.txt";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"--access-code", kAccessCode, "--once"};
    args.insert(args.end(), c.faults.begin(), c.faults.end());
    PrinterProcess printer;
    ASSERT_TRUE(printer.start(args, log));
    RunOutcome r;
    update_on(printer.pty(), *pkg, r);
    EXPECT_EQ(r.result.outcome, c.outcome);
    EXPECT_EQ(r.observer.log, c.log);
    EXPECT_EQ(printer.wait_exit(), 0);
  }
}

// Two printers on one line. The updater closes the port after its polling query and after each run;
// the line must outlive each close, the first printer go off after its WAIT, the second come on
// only after the gap, and the program end once the last one is off and the port is closed.
TEST(PrinterOverPty, ALineOfPrintersOutlivesTheClosesAndEndsAfterTheLast) {
  auto pkg = sample_package(4, true);
  pkg->image_length = 3 * 528;
  const std::string summary = ::testing::TempDir() + "printer_line_summary.json";
  std::remove(summary.c_str());
  PrinterProcess printer;
  ASSERT_TRUE(printer.start({"--access-code", kAccessCode, "--serials", "LINE-A,LINE-B", "--gap", "1500", "--summary",
                             summary},
                            ::testing::TempDir() + "printer_line_stderr.txt"));
  const fakes::Log whole = fakes::finished_run_log();

  EXPECT_EQ(query_alone(printer.pty(), *pkg), "LINE-A");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // long enough for the printer to see the close
  RunOutcome a;
  update_on(printer.pty(), *pkg, a);
  EXPECT_EQ(std::string(a.result.serial_number), "LINE-A");
  EXPECT_EQ(a.observer.log, whole);
  EXPECT_EQ(query_alone(printer.pty(), *pkg), "");  // A is off, B not on yet
  std::this_thread::sleep_for(std::chrono::seconds(1));  // the query waited 1 s of the 1.5 s gap
  RunOutcome b;
  update_on(printer.pty(), *pkg, b);
  EXPECT_EQ(std::string(b.result.serial_number), "LINE-B");
  EXPECT_EQ(b.observer.log, whole);
  EXPECT_EQ(printer.wait_exit(), 0);

  const nlohmann::json doc = nlohmann::json::parse(read_file(summary), nullptr, false);
  ASSERT_FALSE(doc.is_discarded()) << read_file(summary);
  EXPECT_EQ(doc["updates"].size(), 2u) << doc.dump(2);  // the polling query is no update
  const struct {
    const char* serial;
  } want[] = {{"LINE-A"}, {"LINE-B"}};
  ASSERT_EQ(doc["printers"].size(), 2u) << doc.dump(2);
  for (std::size_t i = 0; i < 2; ++i) {
    const nlohmann::json& p = doc["printers"][i];
    EXPECT_EQ(p["serial"], want[i].serial);
    EXPECT_EQ(p["state"], "off");
    EXPECT_EQ(p["outcome"], "update ok");
    EXPECT_EQ(p["attempts"], 1);
    EXPECT_EQ(p["blocks"], 3);
    EXPECT_EQ(doc["updates"][i]["block_phase"]["blocks"], 3);  // each update's figures as without a line
  }
}

}  // namespace
