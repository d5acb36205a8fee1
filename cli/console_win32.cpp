// The command-line program on Windows: the console control handler, the console, COM names and
// the GetLastError of a failed open in plain words.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "cli/console.h"
#include "cli/link_win32.h"
#include "serial/discovery.h"
#include "serial/port_win32.h"

namespace cli {

namespace {

constexpr DWORD kVirtualTerminalProcessing = 0x0004;  // ENABLE_VIRTUAL_TERMINAL_PROCESSING

std::atomic<bool> g_stop{false};

constexpr UINT kStoppedAtOnce = 130;  // the stopped status, as after a shell's Ctrl-C

void write_err_raw(const char* text) {
  HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
  DWORD written = 0;
  if (h != nullptr && h != INVALID_HANDLE_VALUE) WriteFile(h, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

// Runs on a thread of its own that the system starts: the first event sets the flag, a second
// ends the program at once.
BOOL WINAPI on_console_control(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      if (!g_stop.exchange(true)) {
        write_err_raw("zorven-cli: stopping every port; Ctrl-C again ends it at once\n");
        return TRUE;
      }
      write_err_raw("\nzorven-cli: ended at once by a second Ctrl-C\n");
      ExitProcess(kStoppedAtOnce);
    default:
      return FALSE;
  }
}

void write_all(DWORD which, const char* data, std::size_t n) {
  HANDLE h = GetStdHandle(which);
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
  while (n > 0) {
    DWORD written = 0;
    if (!WriteFile(h, data, static_cast<DWORD>(n), &written, nullptr) || written == 0) return;
    data += written;
    n -= written;
  }
}

// Where the FTDI driver keeps its devices' parameters.
constexpr char kFtdiBus[] = "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";

class Win32Platform final : public ConsolePlatform {
 public:
  using ConsolePlatform::ConsolePlatform;

  serial::Port* open_port(const char* name, std::uint32_t speed) override {
    SetLastError(ERROR_SUCCESS);
    HANDLE h = serial::open_port(name, speed);
    if (h == INVALID_HANDLE_VALUE) {
      note_open_failure(name, static_cast<long>(GetLastError()));
      return nullptr;
    }
    port_.attach(h);
    link_.setup.latency_timer_ms = ftdi_latency_timer(HKEY_LOCAL_MACHINE, kFtdiBus, name);
    return watched(&port_);
  }

 private:
  serial::Win32Port port_;
};

}  // namespace

void install_stop_handler() { SetConsoleCtrlHandler(on_console_control, TRUE); }

bool stop_requested() { return g_stop.load(); }

// A console that takes the terminal sequences the live lines are redrawn with; anything else
// (a pipe, a file, an older console) gets plain lines.
bool output_is_terminal() {
  HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (h == nullptr || h == INVALID_HANDLE_VALUE || !GetConsoleMode(h, &mode)) return false;
  return SetConsoleMode(h, mode | kVirtualTerminalProcessing) != 0;
}

std::size_t terminal_columns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
  const int columns = info.srWindow.Right - info.srWindow.Left + 1;
  return columns > 0 ? static_cast<std::size_t>(columns) : 0;
}

void write_out(const char* data, std::size_t n) { write_all(STD_OUTPUT_HANDLE, data, n); }
void write_err(const char* data, std::size_t n) { write_all(STD_ERROR_HANDLE, data, n); }

// The update dialog's port list: COM1 to COM4, then every port discovery found; of the adapter
// behind each, only the FTDI driver's latency timer is looked up.
std::vector<PortInfo> list_ports() {
  static std::uint8_t presence[serial::kPresenceSize];
  unsigned numbers[serial::kMaxPortEntries];
  const std::size_t n = serial::port_numbers(serial::discover_ports(presence), presence, numbers);
  std::vector<PortInfo> ports;
  char entry[serial::kPortEntrySize];
  for (std::size_t i = 0; i < n; ++i) {
    serial::port_entry_text(numbers[i], entry, sizeof entry);
    PortInfo info;
    info.port = entry;
    info.latency_timer_ms = ftdi_latency_timer(HKEY_LOCAL_MACHINE, kFtdiBus, entry);
    ports.push_back(std::move(info));
  }
  return ports;
}

std::string host_name() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = "";
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size)) return "";
  return name;
}

void utc_time(std::time_t t, std::tm& utc) { gmtime_s(&utc, &t); }

bool utc_to_local(const std::tm& utc, std::tm& local) {
  std::tm copy = utc;
  const std::time_t t = _mkgmtime(&copy);
  return t != static_cast<std::time_t>(-1) && localtime_s(&local, &t) == 0;
}

std::string device_of(const std::string& port) {
  std::string name = port.compare(0, 4, "\\\\.\\") == 0 ? port.substr(4) : port;
  for (char& c : name)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return name;
}

bool replace_file(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

std::unique_ptr<ConsolePlatform> make_platform(update::RunState& state, LinkRecord& link) {
  return std::make_unique<Win32Platform>(state, link);
}

void open_failure_text(const char* name, long error, char* dst, std::size_t cap) {
  if (std::strlen(name) > serial::kMaxPortNameLength) {
    std::snprintf(dst, cap, "The port name is longer than %u characters: %s.",
                  static_cast<unsigned>(serial::kMaxPortNameLength), name);
    return;
  }
  switch (error) {
    case ERROR_SUCCESS:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_UNIT:
      no_such_device_text(name, dst, cap);
      return;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      port_busy_text(name, dst, cap);
      return;
    default:
      system_error_text(name, error, dst, cap);
      return;
  }
}

}  // namespace cli
