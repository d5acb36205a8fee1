// The command-line program on Linux: signals, the terminal, device paths and the errno of a
// failed open in plain words.
#include <dirent.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "cli/console.h"
#include "serial/port_posix.h"

namespace cli {

namespace {

std::atomic<bool> g_stop{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler may only touch a lock-free flag");

constexpr int kStoppedAtOnce = 130;  // the stopped status, as after a shell's Ctrl-C

// Only async-signal-safe calls here: an atomic exchange, write and _exit.
extern "C" void on_stop_signal(int) {
  static const char kStopping[] = "zorven-cli: stopping every port; the same signal again ends it at once\n";
  static const char kAtOnce[] = "\nzorven-cli: ended at once by a second signal\n";
  if (!g_stop.exchange(true)) {
    ssize_t ignored = ::write(STDERR_FILENO, kStopping, sizeof kStopping - 1);
    (void)ignored;
    return;
  }
  // The live lines end with a line end, and the terminal's modes were never changed: the
  // terminal is left as the program found it.
  ssize_t ignored = ::write(STDERR_FILENO, kAtOnce, sizeof kAtOnce - 1);
  (void)ignored;
  ::_exit(kStoppedAtOnce);
}

void write_all(int fd, const char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, data, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return;  // a closed output loses the rest; the runs go on
    }
    data += w;
    n -= static_cast<std::size_t>(w);
  }
}

class PosixPlatform final : public ConsolePlatform {
 public:
  using ConsolePlatform::ConsolePlatform;

  serial::Port* open_port(const char* name, std::uint32_t speed) override {
    const int fd = serial::open_port(name, speed);
    if (fd < 0) {
      note_open_failure(name, errno);
      return nullptr;
    }
    port_.attach(fd);
    // The request goes first: for ftdi_sio it lowers the latency timer read next.
    link_.setup.low_latency = request_low_latency(fd);
    link_.setup.latency_timer_ms = sysfs_latency_timer("", name);
    return watched(&port_);
  }

 private:
  serial::PosixPort port_;
};

// The group that owns the device, by name where it has one.
void owner_group(const char* name, char* dst, std::size_t cap) {
  dst[0] = '\0';
  struct stat st {};
  if (::stat(name, &st) != 0) return;
  group grp{};
  group* found = nullptr;
  char buf[1024];
  if (::getgrgid_r(st.st_gid, &grp, buf, sizeof buf, &found) == 0 && found != nullptr) {
    std::snprintf(dst, cap, "%s", found->gr_name);
  } else {
    std::snprintf(dst, cap, "%u", static_cast<unsigned>(st.st_gid));
  }
}

bool is_serial_name(const std::string& n) {
  static const char* const kPrefixes[] = {"ttyS", "ttyUSB", "ttyACM", "ttyAMA", "ttyXRUSB", "ttymxc", "ttySC", "rfcomm"};
  for (const char* p : kPrefixes) {
    const std::size_t len = std::strlen(p);
    if (n.size() > len && n.compare(0, len, p) == 0) return true;
  }
  return false;
}

// A UART the kernel reserved a node for but found no hardware behind reports type 0.
bool has_hardware(const std::string& root, const std::string& n) {
  std::ifstream type(root + "/sys/class/tty/" + n + "/type");
  int t = -1;
  if (type >> t) return t != 0;
  return true;
}

std::vector<std::string> directory(const char* dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir)) {
    while (dirent* e = ::readdir(d)) {
      if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    }
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

void install_stop_handler() {
  struct sigaction sa {};
  sa.sa_handler = on_stop_signal;
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
  // A dropped SSH session or a closed terminal stops the runs the same way instead of killing
  // them in the middle of an update.
  ::sigaction(SIGHUP, &sa, nullptr);
  // A reader that goes away must not end the runs; writes to it just fail.
  ::signal(SIGPIPE, SIG_IGN);
}

bool stop_requested() { return g_stop.load(); }

bool output_is_terminal() { return ::isatty(STDOUT_FILENO) == 1; }

void write_out(const char* data, std::size_t n) { write_all(STDOUT_FILENO, data, n); }
void write_err(const char* data, std::size_t n) { write_all(STDERR_FILENO, data, n); }

std::vector<std::string> list_ports() { return list_ports_under(""); }

std::vector<std::string> list_ports_under(const std::string& root) {
  std::vector<std::string> ports;
  const std::string by_id = root + "/dev/serial/by-id";
  for (const std::string& n : directory(by_id.c_str())) ports.push_back(by_id + "/" + n);
  for (const std::string& n : directory((root + "/sys/class/tty").c_str())) {
    if (!is_serial_name(n) || !has_hardware(root, n)) continue;
    const std::string path = root + "/dev/" + n;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) ports.push_back(path);
  }
  return ports;
}

bool replace_file(const char* from, const char* to) { return std::rename(from, to) == 0; }

std::string device_of(const std::string& port) {
  char resolved[PATH_MAX];
  if (::realpath(port.c_str(), resolved) == nullptr) return port;
  return resolved;
}

std::unique_ptr<ConsolePlatform> make_platform(update::RunState& state, LinkRecord& link) {
  return std::make_unique<PosixPlatform>(state, link);
}

void open_failure_text(const char* name, long error, char* dst, std::size_t cap) {
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      std::snprintf(dst, cap, "No such device: %s.", name);
      return;
    case EBUSY:
    case EWOULDBLOCK:
      std::snprintf(dst, cap, "The port is busy: another program holds %s.", name);
      return;
    case EACCES:
    case EPERM: {
      char group[256];
      owner_group(name, group, sizeof group);
      if (group[0] != '\0') {
        std::snprintf(dst, cap, "Permission denied: %s. The user needs to be in the group \"%s\", which owns the device.",
                      name, group);
      } else {
        std::snprintf(dst, cap, "Permission denied: %s. The user needs to be in the group that owns the device.", name);
      }
      return;
    }
    case ENOTTY:
      std::snprintf(dst, cap, "Not a serial device: %s.", name);
      return;
    case EINVAL:
      std::snprintf(dst, cap, "The port does not take the line settings: %s.", name);
      return;
    case EISDIR:
      std::snprintf(dst, cap, "A folder, not a serial device: %s.", name);
      return;
    default:
      std::snprintf(dst, cap, "System error %ld: %s.", error, name);
      return;
  }
}

}  // namespace cli
