#include "tools/printer/options.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/option_error.h"
#include "tools/printer/announce.h"

namespace printer {
namespace {

constexpr std::uint32_t kMinBaud = 9600;
constexpr std::uint32_t kMaxBaud = 115200;
constexpr std::size_t kMaxSerial = 200;  // the reply's data (serial, ';', model) fits 220 bytes
constexpr std::uint32_t kMaxDelayMs = 60000;
constexpr std::uint32_t kMinUsbLatencyMs = 1;    // the range of an adapter's latency timer
constexpr std::uint32_t kMaxUsbLatencyMs = 255;
constexpr std::uint32_t kMaxRetryTimes = 1000;
constexpr std::size_t kMaxPrinters = 1000;
constexpr std::uint32_t kMaxLineMs = 600000;
constexpr std::uint32_t kFirstBlock = 1;
constexpr std::uint32_t kLastBlock = UINT32_MAX;

// Whole numbers are decimal digits and nothing else: no sign, no blanks, no 0x, and "010" is ten.
// CLI11 reads a leading 0 as octal, so the zeros go before it converts the text.
const CLI::Validator kDecimal(
    [](std::string& s) -> std::string {
      if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos) return "not a decimal number: " + s;
      s.erase(0, std::min(s.find_first_not_of('0'), s.size() - 1));
      return "";
    },
    "");

// A whole number inside a text (a block of a stage, a printer of --fault-on), read as the
// options' numbers are.
bool number_in_text(std::string s, std::uint32_t lo, std::uint32_t hi, std::uint32_t& out) {
  return kDecimal(s).empty() && CLI::Range(lo, hi)(s).empty() && CLI::detail::lexical_cast(s, out);
}

// A serial number as the identification reply carries it. "" when it is fine, else what is wrong.
std::string serial_fault(const std::string& serial) {
  if (serial.empty() || serial.size() > kMaxSerial) return "must be 1 to " + std::to_string(kMaxSerial) + " characters";
  for (char c : serial)
    if (static_cast<unsigned char>(c) < 0x20 || c == ';') return "must be printable and hold no ';'";
  return "";
}

std::vector<std::string> split_commas(const std::string& s) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (;;) {
    const std::size_t comma = s.find(',', from);
    parts.push_back(s.substr(from, comma - from));
    if (comma == std::string::npos) return parts;
    from = comma + 1;
  }
}

std::optional<StagePoint> parse_stage(const std::string& s) {
  static const struct {
    const char* name;
    Stage stage;
  } kStages[] = {{"query", Stage::kQuery}, {"handshake", Stage::kHandshake}, {"announce", Stage::kAnnounce},
                 {"wait", Stage::kWait}};
  for (const auto& st : kStages)
    if (s == st.name) return StagePoint{st.stage, 0};
  const std::string prefix = "block:";
  std::uint32_t k = 0;
  if (s.compare(0, prefix.size(), prefix) == 0 && number_in_text(s.substr(prefix.size()), kFirstBlock, kLastBlock, k))
    return StagePoint{Stage::kBlock, k};
  return std::nullopt;
}

const CLI::Validator kSerial([](std::string& s) { return serial_fault(s); }, "");
const CLI::Validator kAccessCode(
    [](std::string& s) {
      return s.size() == kAccessCodeSize ? "" : "must be exactly " + std::to_string(kAccessCodeSize) + " bytes: " + s;
    },
    std::to_string(kAccessCodeSize) + " BYTES");
const CLI::Validator kStage(
    [](std::string& s) {
      return parse_stage(s) ? "" : "takes query, handshake, announce, block:K (K >= 1) or wait: " + s;
    },
    "query|handshake|announce|block:K|wait");

// What the options leave as text, or hold apart from Options, until the parse is over.
struct Values {
  std::string version, access_code, silent, garbage, serials, fault_on;
  std::uint32_t image_length = 0;
};

template <typename T>
CLI::Option* add_number(CLI::App& app, const char* name, T& target, T lo, T hi, const char* unit, const char* what) {
  return app.add_option(name, target, what)->type_name(unit)->transform(kDecimal)->check(CLI::Range(lo, hi));
}

void define(CLI::App& app, Options& o, Values& v) {
  Faults& f = o.config.faults;
  app.description(
      "Serves firmware updates as a printer in update mode. Without --device it creates a pty and prints\n"
      "\"PTY <slave path>\" on stdout.");
  app.footer(
      "A line of printers (--serials): the first is on from the start; while none is on, whatever arrives is\n"
      "dropped unanswered. A printer goes off after its WAIT, at --remove-at-block, or when the operator takes\n"
      "it away after a failed update (--off-after-failure); once off it answers nothing. The program ends,\n"
      "status 0, when the last one is off and the updater has closed the port. The summary lists each\n"
      "printer's outcome under \"printers\"; its \"updates\" leave out sessions that never went past the\n"
      "identification query.\n"
      "Blocks are numbered from 1. A summary line per update goes to stderr.");
  app.set_help_flag("-h,--help", "show this help and exit");
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.get_formatter()->column_width(40);

  CLI::Option* device =
      app.add_option("--device", o.device, "serve this serial device instead of a pty")->type_name("PATH");
  app.add_option("--link", o.link, "make PATH a symlink to the pty's slave")->type_name("PATH")->excludes(device);
  add_number(app, "--variant", o.config.variant, 0, 4, "N", "protocol variant")->capture_default_str();
  app.add_option("--scramble", o.config.scramble, "variant 3: probe and scrambled first frame")
      ->type_name("N")
      ->check(CLI::IsMember({"0", "1"}))
      ->capture_default_str();
  app.add_option("--access-code", v.access_code, "the bytes the entry frame must carry")
      ->type_name("CODE")
      ->check(kAccessCode)
      ->default_str(std::string(o.config.access_code.begin(), o.config.access_code.end()));
  CLI::Option* serial = app.add_option("--serial", o.config.serial, "serial number for the identification query")
                            ->type_name("TEXT")
                            ->check(kSerial)
                            ->capture_default_str();
  app.add_option("--version", v.version, "check the announce line's version text");
  add_number(app, "--image-length", v.image_length, 1u, kMaxImageLength, "N", "check the announce line's image length");
  app.add_option("--out", o.out, "write each received image to FILE")->type_name("FILE");
  CLI::Option* once = app.add_flag("--once", o.once, "exit after one update, once the updater has closed the port");
  add_number(app, "--delay", o.delay_ms, 0u, kMaxDelayMs, "MS", "wait MS milliseconds before every reply")
      ->capture_default_str();
  add_number(app, "--baud", o.baud, kMinBaud, kMaxBaud, "N", "pace the line: 10 bits a byte both ways at N baud");
  add_number(app, "--usb-latency", o.usb_latency_ms, kMinUsbLatencyMs, kMaxUsbLatencyMs, "MS",
             "replies reach the updater as through a USB serial adapter with this\n"
             "latency timer: bytes are held until a packet of 62 is full or MS ms\n"
             "have passed since its first byte, whichever is first; combines with\n"
             "--baud (the bytes come off a paced wire); pty only");
  add_number(app, "--query-end-late", o.query_end_late_ms, 0u, kMaxDelayMs, "MS",
             "send the identification reply's last 3 bytes MS ms after the rest")
      ->capture_default_str();
  app.add_flag("--query-end-never", o.query_end_never, "never send the identification reply's last 3 bytes");
  app.add_option("--timing", o.timing, "write each reply's lateness and the turnaround after it to FILE")
      ->type_name("FILE");
  app.add_option("--summary", o.summary, "write the figures of every update as JSON to FILE")->type_name("FILE");

  const char* line = "A line of printers";
  CLI::Option* serials =
      app.add_option("--serials", v.serials,
                     "play one printer after another, each with its serial number (one may\n"
                     "come twice: a printer put on the line again); at most " +
                         std::to_string(kMaxPrinters))
          ->type_name("SN1,SN2,...")
          ->group(line)
          ->excludes(serial)
          ->excludes(once);
  add_number(app, "--gap", o.gap_ms, 0u, kMaxLineMs, "MS", "from one printer going off to the next coming on")
      ->capture_default_str()
      ->needs(serials)
      ->group(line);
  add_number(app, "--off-after-failure", o.off_after_failure_ms, 0u, kMaxLineMs, "MS",
             "a printer whose update failed stays on, answering queries, until MS ms\n"
             "after the updater closed the port (on a device: after the failure)")
      ->capture_default_str()
      ->needs(serials)
      ->group(line);
  app.add_option("--fault-on", v.fault_on, "the fault options apply only to these printers (numbered from 1)")
      ->type_name("N[,M...]")
      ->needs(serials)
      ->group(line);

  const char* faults = "Faults";
  app.add_option("--silent", v.silent, "no reply at STAGE")->type_name("STAGE")->check(kStage)->group(faults);
  app.add_option("--garbage", v.garbage, "\"GARBAGE\\r\\n\" instead of the reply at STAGE")
      ->type_name("STAGE")
      ->check(kStage)
      ->group(faults);
  app.add_flag("--refuse-handshake", f.refuse_handshake, "refuse every entry frame (status \"01\")")->group(faults);
  app.add_flag("--refuse-first", f.refuse_first, "refuse only the first entry frame (variant 3 then retries plain)")
      ->group(faults);
  add_number(app, "--retry-every", f.retry_every, kFirstBlock, kLastBlock, "K", "answer RETRY to blocks K, 2K, 3K, ...")
      ->group(faults);
  add_number(app, "--retry-times", f.retry_times, 1u, kMaxRetryTimes, "R", "... R times each (a RETRY storm)")
      ->capture_default_str()
      ->group(faults);
  add_number(app, "--bad-reply-block", f.bad_reply_block, kFirstBlock, kLastBlock, "K",
             "answer block K with \"BUSY\" (neither OK nor RETRY)")
      ->group(faults);
  add_number(app, "--disconnect-at-block", f.disconnect_at_block, kFirstBlock, kLastBlock, "K",
             "close the line instead of answering block K, then exit")
      ->group(faults);
  add_number(app, "--remove-at-block", f.remove_at_block, kFirstBlock, kLastBlock, "K",
             "the printer is switched off at block K: no reply from then on; the\n"
             "line stays (with --serials the next printer follows after the gap;\n"
             "without, the program ends once the updater has closed the port)")
      ->group(faults);
  app.add_flag("--no-wait", f.no_wait, "no WAIT after the last block (same as --silent wait)")->group(faults);
}

}  // namespace

std::string help_text() {
  Options o;
  Values v;
  CLI::App app("", "zorven-printer");
  define(app, o, v);
  return app.help();
}

std::string parse_options(int argc, const char* const* argv, Options& o, bool& help) {
  help = false;
  Values v;
  CLI::App app("", "zorven-printer");
  define(app, o, v);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    help = true;
    return "";
  } catch (const CLI::ArgumentMismatch& e) {
    return "missing value after " + tools::option_of(e.what());
  } catch (const CLI::ParseError& e) {
    return e.what();
  }
  auto given = [&](const char* name) { return app.count(name) > 0; };
  if (given("--image-length")) o.config.image_length = v.image_length;
  if (given("--version")) o.config.version = v.version;
  if (given("--access-code")) std::memcpy(o.config.access_code.data(), v.access_code.data(), kAccessCodeSize);
  if (given("--silent")) o.config.faults.silent = parse_stage(v.silent);
  if (given("--garbage")) o.config.faults.garbage = parse_stage(v.garbage);
  if (given("--serials")) {
    o.serials = split_commas(v.serials);
    if (o.serials.size() > kMaxPrinters) return "--serials takes at most " + std::to_string(kMaxPrinters) + " printers";
    for (const std::string& sn : o.serials)
      if (const std::string why = serial_fault(sn); !why.empty()) return "--serials: each serial number " + why;
  }
  if (given("--fault-on")) {
    for (const std::string& n : split_commas(v.fault_on)) {
      std::uint32_t k = 0;
      if (!number_in_text(n, 1, static_cast<std::uint32_t>(o.serials.size()), k))
        return "--fault-on takes printer numbers from 1 to the number of --serials: " + v.fault_on;
      o.fault_on.push_back(k);
    }
  }
  return "";
}

}  // namespace printer
