// The command-line program on Linux: signals, the terminal, device paths with what sysfs tells of
// the adapters behind them, and the errno of a failed open in plain words.
#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "cli/console.h"
#include "cli/console_posix.h"
#include "cli/link_posix.h"
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

constexpr int kMaxGroups = 1024;

bool has_gid(const gid_t* gids, int n, gid_t gid) { return std::find(gids, gids + n, gid) != gids + n; }

// Whether the group database puts the user this process runs as in group `gid`, as the next
// login will: the user's primary group or one of its supplementary groups.
bool member_per_database(gid_t gid) {
  passwd pw{};
  passwd* found = nullptr;
  char buf[4096];
  if (::getpwuid_r(::geteuid(), &pw, buf, sizeof buf, &found) != 0 || found == nullptr) return false;
  if (pw.pw_gid == gid) return true;
  gid_t groups[kMaxGroups];
  int n = kMaxGroups;
  // With more groups than room the first kMaxGroups are filled in.
  if (::getgrouplist(pw.pw_name, pw.pw_gid, groups, &n) < 0) n = kMaxGroups;
  return has_gid(groups, n, gid);
}

// Whether this process has group `gid`: what the login it runs in was given.
bool member_in_session(gid_t gid) {
  if (::getegid() == gid) return true;
  gid_t groups[kMaxGroups];
  const int n = ::getgroups(kMaxGroups, groups);
  return n > 0 && has_gid(groups, n, gid);
}

// The group that owns the device `name`, by name where it has one, and where the user stands with
// it.
DeviceGroup device_group(const char* name, char* group_name, std::size_t cap) {
  group_name[0] = '\0';
  DeviceGroup g;
  struct stat st {};
  if (::stat(name, &st) != 0) return g;
  g.known = true;
  g.gid = st.st_gid;
  g.group_read_write = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  g.member = member_per_database(st.st_gid);
  g.member_in_session = member_in_session(st.st_gid);
  group grp{};
  group* found = nullptr;
  char buf[4096];
  if (::getgrgid_r(st.st_gid, &grp, buf, sizeof buf, &found) == 0 && found != nullptr) {
    std::snprintf(group_name, cap, "%s", found->gr_name);
  } else {
    std::snprintf(group_name, cap, "%u", static_cast<unsigned>(st.st_gid));
  }
  return g;
}

void permission_text(const char* name, char* dst, std::size_t cap) {
  char group[256];
  const DeviceGroup g = device_group(name, group, sizeof group);
  switch (permission_advice(g)) {
    case PermissionAdvice::kJoinGroup:
      std::snprintf(dst, cap, "Permission denied: %s. The user needs to be in the group \"%s\", which owns the device.",
                    name, group);
      return;
    case PermissionAdvice::kLogInAgain:
      std::snprintf(dst, cap,
                    "Permission denied: %s. The user's membership of the group \"%s\", which owns the device, "
                    "takes effect at the next login: log in again (or run newgrp %s).",
                    name, group, group);
      return;
    case PermissionAdvice::kOwnerDoesNotAllow:
      break;
  }
  std::snprintf(dst, cap,
                "Permission denied: %s. The device's owner and mode do not allow this user; an administrator can "
                "change that, for good with a udev rule.",
                name);
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

// The first line of a small sysfs file, without its line end; "" when there is none.
std::string file_text(const std::string& path) {
  std::ifstream f(path);
  std::string text;
  std::getline(f, text);
  while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

// Where the link `path` points, as written in it; "" when it is no link.
std::string link_text(const std::string& path) {
  char target[PATH_MAX];
  const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

std::string base_name(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string real_path(const std::string& path) {
  char real[PATH_MAX];
  return ::realpath(path.c_str(), real) != nullptr ? std::string(real) : std::string();
}

// The device node a /dev/serial/by-id link leads to, read from the link's own folder.
std::string by_id_target(const std::string& link) {
  const std::string target = link_text(link);
  if (target.empty()) return "";
  std::filesystem::path p(target);
  if (p.is_relative()) p = std::filesystem::path(link).parent_path() / p;
  return p.lexically_normal().string();
}

// Calls f(dir) for the sysfs folder `dir` and each above it up to `sys`, until f returns true.
template <typename F>
void up_to(const std::string& sys, std::string dir, F f) {
  while (dir.size() > sys.size() && dir.compare(0, sys.size(), sys) == 0 && dir[sys.size()] == '/') {
    if (f(dir)) return;
    dir.erase(dir.rfind('/'));
  }
}

// What sysfs under `root` tells of the adapter behind the kernel's tty `tty`: the driver of the
// tty's device, and the ids and serial number of the USB device it belongs to.
void read_adapter(const std::string& root, const std::string& tty, PortInfo& info) {
  info.latency_timer_ms = tty_latency_timer(root, tty);
  const std::string sys = real_path(root + "/sys");
  const std::string device = real_path(root + "/sys/class/tty/" + tty + "/device");
  if (sys.empty() || device.empty()) return;
  // A UART's own device belongs to the serial core (bus serial-base, driver "port"); the driver
  // that found the UART is further up.
  up_to(sys, device, [&](const std::string& dir) {
    const std::string driver = link_text(dir + "/driver");
    if (driver.find("/bus/serial-base/") != std::string::npos) return false;
    info.driver = driver.empty() ? "" : base_name(driver);
    return true;
  });
  up_to(sys, device, [&](const std::string& dir) {
    const std::string vendor = file_text(dir + "/idVendor");
    if (vendor.empty()) return false;
    info.vendor_id = vendor;
    info.product_id = file_text(dir + "/idProduct");
    info.serial_number = file_text(dir + "/serial");
    return true;
  });
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

std::size_t terminal_columns() {
  winsize ws{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) != 0) return 0;
  return ws.ws_col;
}

void write_out(const char* data, std::size_t n) { write_all(STDOUT_FILENO, data, n); }
void write_err(const char* data, std::size_t n) { write_all(STDERR_FILENO, data, n); }

std::vector<PortInfo> list_ports() { return list_ports_under(""); }

std::vector<PortInfo> list_ports_under(const std::string& root) {
  std::vector<PortInfo> ports;
  const std::string by_id = root + "/dev/serial/by-id";
  for (const std::string& n : directory(by_id.c_str())) {
    PortInfo info;
    info.port = by_id + "/" + n;
    info.device = by_id_target(info.port);
    if (!info.device.empty()) read_adapter(root, base_name(info.device), info);
    ports.push_back(std::move(info));
  }
  for (const std::string& n : directory((root + "/sys/class/tty").c_str())) {
    if (!is_serial_name(n) || !has_hardware(root, n)) continue;
    PortInfo info;
    info.port = root + "/dev/" + n;
    struct stat st {};
    if (::stat(info.port.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) continue;
    info.device = info.port;
    read_adapter(root, n, info);
    ports.push_back(std::move(info));
  }
  return ports;
}

PermissionAdvice permission_advice(const DeviceGroup& g) {
  // A device of the root group is the administrator's to give; a group the user already has, or
  // one the mode gives no read and write, would not help.
  if (!g.known || g.gid == 0 || !g.group_read_write || g.member_in_session) return PermissionAdvice::kOwnerDoesNotAllow;
  return g.member ? PermissionAdvice::kLogInAgain : PermissionAdvice::kJoinGroup;
}

bool replace_file(const char* from, const char* to) { return std::rename(from, to) == 0; }

std::string host_name() {
  char name[256] = "";
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

void utc_time(std::time_t t, std::tm& utc) { ::gmtime_r(&t, &utc); }

bool utc_to_local(const std::tm& utc, std::tm& local) {
  std::tm copy = utc;
  const std::time_t t = ::timegm(&copy);
  return t != static_cast<std::time_t>(-1) && ::localtime_r(&t, &local) != nullptr;
}

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
      no_such_device_text(name, dst, cap);
      return;
    case EBUSY:
    case EWOULDBLOCK:
      port_busy_text(name, dst, cap);
      return;
    case EACCES:
    case EPERM:
      permission_text(name, dst, cap);
      return;
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
      system_error_text(name, error, dst, cap);
      return;
  }
}

}  // namespace cli
