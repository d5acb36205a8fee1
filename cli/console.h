// What the command-line program needs from the operating system: the stop request of Ctrl-C,
// whole-line output, whether the output is a terminal, the serial ports there are, replacing a
// file in one step, and the operating system as one port's update run sees it.
// console_posix.cpp and console_win32.cpp implement it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "cli/link.h"
#include "update/platform.h"
#include "update/run.h"

namespace cli {

// Ctrl-C (SIGINT, SIGTERM and SIGHUP on Linux; Ctrl-C, Ctrl-Break and closing the console on
// Windows) only sets a flag, and says once on standard error that the runs are stopping; each
// run's message pump and clock read the flag. A second one ends the program at once with the
// stopped status.
void install_stop_handler();
bool stop_requested();

// Whether standard output is a terminal that can redraw a line in place.
bool output_is_terminal();

// The width of the terminal standard output shows in, in characters; 0 when it is not a
// terminal or does not say.
std::size_t terminal_columns();

// Writes all n bytes to standard output (or standard error) as one request where the system
// allows it. Callers serialise.
void write_out(const char* data, std::size_t n);
void write_err(const char* data, std::size_t n);

// A port a user could pass, with what the system tells of the adapter behind it. Text fields are
// empty and the latency timer -1 where the system does not say.
struct PortInfo {
  std::string port;           // the name to pass: a /dev/serial/by-id name, a /dev path or COM3
  std::string device;         // the device node the name leads to
  std::string vendor_id;      // the USB adapter's ids as the system writes them ("0403")
  std::string product_id;
  std::string serial_number;  // the USB adapter's own serial number
  std::string driver;         // the kernel driver behind the port (ftdi_sio, cdc_acm, serial)
  std::int32_t latency_timer_ms = -1;
};

// The ports a user could pass, in the order to offer them.
std::vector<PortInfo> list_ports();

// The device a port name leads to, so that one device given under two names is caught: on Linux
// the path with every link resolved (a by-id name, a link of a test's making), on Windows the COM
// name without its "\\.\" prefix, in upper case. A name that leads nowhere is returned as given.
std::string device_of(const std::string& port);

// This machine's name, for a station's records.
std::string host_name();

// UTC broken down from a calendar time, and a UTC time as local time; false where the system
// cannot convert it.
void utc_time(std::time_t t, std::tm& utc);
bool utc_to_local(const std::tm& utc, std::tm& local);

// Puts `from` in the place of `to` in one step, replacing an existing file.
bool replace_file(const char* from, const char* to);

inline constexpr std::size_t kReasonSize = 512;

// The plain-words reason for an open of `name` that failed with the system's error code (errno,
// or GetLastError), into dst (cap bytes, terminated).
void open_failure_text(const char* name, long error, char* dst, std::size_t cap);

// The reasons for a failed open of `name` that both systems give, into dst (cap bytes,
// terminated); open_failure_text picks among them and the system's own.
void no_such_device_text(const char* name, char* dst, std::size_t cap);
void port_busy_text(const char* name, char* dst, std::size_t cap);
void system_error_text(const char* name, long error, char* dst, std::size_t cap);


// The operating system as one port's update run sees it: its own port object, the calendar
// clock, a pump that turns Ctrl-C into the dialog's STOP for this run, the local time and the
// append to the production log. The port it opens is watched for the run's link record, and
// what the system tells of the line is noted there when the port is opened.
class ConsolePlatform : public update::Platform, public serial::Host {
 public:
  ConsolePlatform(update::RunState& state, LinkRecord& link) : link_(link), watched_(link), state_(state) {}
  virtual ~ConsolePlatform() = default;

  serial::Host& host() override { return *this; }
  update::LocalTime local_time() override;
  bool append_file(const char* file_name, const char* data, std::size_t n, char* why, std::size_t why_cap) override;
  void open_failure(char* dst, std::size_t cap) override;

  // Once Ctrl-C has come, the run's clock races ahead: every wait of the run, the closing reply's
  // ten seconds among them, ends at its next look at the clock, which a read request reaches
  // within about a second. A reply already arriving is given a moment to end first, so that a
  // block's verdict is read whole and the run stops between blocks, where the dialog's STOP does.
  std::int64_t now_seconds() override;
  // Where the dialog's STOP arrives, Ctrl-C arrives too: the run-active flag is cleared and the
  // stop request raised, so the driver stops at the same points.
  void pump_one() override;

  // Why the last open failed, in plain words (empty when nothing failed).
  const char* open_failure() const { return open_failure_; }

 protected:
  // The opened port as the run gets it.
  serial::Port* watched(serial::Port* port) {
    watched_.attach(port);
    return &watched_;
  }

  LinkRecord& link_;

  // Keeps the plain-words reason of a failed open.
  void note_open_failure(const char* name, long error) { open_failure_text(name, error, open_failure_, sizeof open_failure_); }

 private:
  // Ctrl-C stops the run as the dialog's STOP does; true once it has.
  bool take_stop();

  WatchedPort watched_;
  update::RunState& state_;
  std::int64_t stopped_ahead_ = 0;
  bool stop_seen_ = false;
  std::chrono::steady_clock::time_point stop_seen_at_{};
  char open_failure_[kReasonSize] = {};
};

// A platform with its own port object; made before the runs start.
std::unique_ptr<ConsolePlatform> make_platform(update::RunState& state, LinkRecord& link);


}  // namespace cli
