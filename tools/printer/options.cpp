#include "tools/printer/options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/option_error.h"
#include "tools/printer/announce.h"

namespace printer {

const char kUsage[] =
    "usage: zorven-printer [--device PATH | --link PATH] [options]\n"
    "  Serves firmware updates as a printer in update mode. Without --device it creates a pty\n"
    "  and prints \"PTY <slave path>\" on stdout; --link PATH makes PATH a symlink to that slave.\n"
    "  --variant 0..4          protocol variant (default 4)\n"
    "  --scramble 0|1          variant 3: probe and scrambled first frame (default 1)\n"
    "  --access-code CODE      the 6 bytes the entry frame must carry (default ZV4711)\n"
    "  --serial TEXT           serial number for the identification query (default ZP-000001)\n"
    "  --version TEXT          check the announce line's version text\n"
    "  --image-length N        check the announce line's image length\n"
    "  --out FILE              write each received image to FILE\n"
    "  --once                  exit after one update, once the updater has closed the port\n"
    "  --delay MS              wait MS milliseconds before every reply\n"
    "  --baud N                pace the line: 10 bits a byte both ways at N baud (9600..115200)\n"
    "  --usb-latency MS        replies reach the updater as through a USB serial adapter with this\n"
    "                          latency timer (1..255 ms): bytes are held until a packet of 62 is\n"
    "                          full or MS ms have passed since its first byte, whichever is first;\n"
    "                          combines with --baud (the bytes come off a paced wire); pty only\n"
    "  --query-end-late MS     send the identification reply's last 3 bytes MS ms after the rest\n"
    "  --query-end-never       never send the identification reply's last 3 bytes\n"
    "  --timing FILE           write each reply's lateness and the turnaround after it to FILE\n"
    "  --summary FILE          write the figures of every update as JSON to FILE\n"
    " a line of printers:\n"
    "  --serials SN1,SN2,...   play one printer after another, each with its serial number (one may\n"
    "                          come twice: a printer put on the line again). The first is on from\n"
    "                          the start; while none is on, whatever arrives is dropped unanswered.\n"
    "                          A printer goes off after its WAIT, at --remove-at-block, or when the\n"
    "                          operator takes it away after a failed update (--off-after-failure);\n"
    "                          once off it answers nothing. The program ends, status 0, when the last\n"
    "                          one is off and the updater has closed the port. The summary lists each\n"
    "                          printer's outcome under \"printers\"; its \"updates\" leave out sessions\n"
    "                          that never went past the identification query\n"
    "  --gap MS                from one printer going off to the next coming on (default 1000)\n"
    "  --off-after-failure MS  a printer whose update failed stays on, answering queries, until MS ms\n"
    "                          after the updater closed the port (on a device: after the failure)\n"
    "                          (default 3000)\n"
    "  --fault-on N[,M...]     the fault options apply only to these printers (numbered from 1)\n"
    " faults:\n"
    "  --silent STAGE          no reply at STAGE: query|handshake|announce|block:K|wait\n"
    "  --garbage STAGE         \"GARBAGE\\r\\n\" instead of the reply at STAGE\n"
    "  --refuse-handshake      refuse every entry frame (status \"01\")\n"
    "  --refuse-first          refuse only the first entry frame (variant 3 then retries plain)\n"
    "  --retry-every K         answer RETRY once to blocks K, 2K, 3K, ...\n"
    "  --retry-times R         ... R times each instead of once (a RETRY storm)\n"
    "  --bad-reply-block K     answer block K with \"BUSY\" (neither OK nor RETRY)\n"
    "  --disconnect-at-block K close the line instead of answering block K, then exit\n"
    "  --remove-at-block K     the printer is switched off at block K: no reply from then on; the\n"
    "                          line stays (with --serials the next printer follows after the gap;\n"
    "                          without, the program ends once the updater has closed the port)\n"
    "  --no-wait               no WAIT after the last block (same as --silent wait)\n"
    " Blocks are numbered from 1. A summary line per update goes to stderr.\n";

namespace {

constexpr std::uint32_t kMinBaud = 9600;
constexpr std::uint32_t kMaxBaud = 115200;
constexpr std::size_t kMaxSerial = 200;  // the reply's data (serial, ';', model) fits 220 bytes
constexpr std::uint32_t kMaxDelayMs = 60000;
constexpr std::uint32_t kMaxUsbLatencyMs = 255;  // the range of an adapter's latency timer
constexpr std::uint32_t kMaxRetryTimes = 1000;
constexpr std::size_t kMaxPrinters = 1000;
constexpr std::uint32_t kMaxLineMs = 600000;

// A serial number as the identification reply carries it. "" when it is fine, else what is wrong.
std::string serial_fault(const std::string& serial) {
  if (serial.empty() || serial.size() > kMaxSerial) return "must be 1 to 200 characters";
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

bool parse_number(const char* s, std::uint64_t lo, std::uint64_t hi, std::uint32_t& out) {
  if (s == nullptr || *s < '0' || *s > '9') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(s, &end, 10);
  if (errno != 0 || *end != 0 || v < lo || v > hi) return false;
  out = static_cast<std::uint32_t>(v);
  return true;
}

bool parse_stage(const std::string& s, StagePoint& out) {
  static const struct {
    const char* name;
    Stage stage;
  } kStages[] = {{"query", Stage::kQuery}, {"handshake", Stage::kHandshake}, {"announce", Stage::kAnnounce},
                 {"wait", Stage::kWait}};
  for (const auto& st : kStages) {
    if (s == st.name) {
      out = StagePoint{st.stage, 0};
      return true;
    }
  }
  const std::string prefix = "block:";
  std::uint32_t k = 0;
  if (s.compare(0, prefix.size(), prefix) == 0 && parse_number(s.c_str() + prefix.size(), 1, UINT32_MAX, k)) {
    out = StagePoint{Stage::kBlock, k};
    return true;
  }
  return false;
}

}  // namespace

std::string parse_options(int argc, const char* const* argv, Options& o, bool& help) {
  help = false;
  Faults& f = o.config.faults;
  CLI::App app;
  app.set_help_flag();
  app.allow_extras();
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_flag("-h,--help", help);
  app.add_flag("--once", o.once);
  app.add_flag("--refuse-handshake", f.refuse_handshake);
  app.add_flag("--refuse-first", f.refuse_first);
  app.add_flag("--no-wait", f.no_wait);
  app.add_flag("--query-end-never", o.query_end_never);
  app.add_option("--device", o.device);
  app.add_option("--link", o.link);
  app.add_option("--out", o.out);
  app.add_option("--timing", o.timing);
  app.add_option("--summary", o.summary);
  std::string version, scramble, access, serial, silent, garbage, serials, fault_on;
  app.add_option("--version", version);
  app.add_option("--scramble", scramble);
  app.add_option("--access-code", access);
  app.add_option("--serial", serial);
  app.add_option("--silent", silent);
  app.add_option("--garbage", garbage);
  app.add_option("--serials", serials);
  app.add_option("--fault-on", fault_on);

  // Whole numbers in a range, each with the message that refuses any other value.
  std::uint32_t variant = 0, image_length = 0;
  const struct {
    const char* name;
    std::uint64_t lo, hi;
    const char* refusal;
    std::uint32_t& target;
  } numbers[] = {
      {"--variant", 0, 4, "--variant must be 0 to 4: ", variant},
      {"--image-length", 1, kMaxImageLength, "--image-length must be 1 to 67108864: ", image_length},
      {"--delay", 0, kMaxDelayMs, "--delay must be 0 to 60000 ms: ", o.delay_ms},
      {"--query-end-late", 0, kMaxDelayMs, "--query-end-late must be 0 to 60000 ms: ", o.query_end_late_ms},
      {"--usb-latency", 1, kMaxUsbLatencyMs, "--usb-latency must be 1 to 255 ms: ", o.usb_latency_ms},
      {"--baud", kMinBaud, kMaxBaud, "--baud must be 9600 to 115200: ", o.baud},
      {"--retry-times", 1, kMaxRetryTimes, "--retry-times must be 1 to 1000: ", f.retry_times},
      {"--retry-every", 1, UINT32_MAX, "--retry-every takes a block number from 1: ", f.retry_every},
      {"--bad-reply-block", 1, UINT32_MAX, "--bad-reply-block takes a block number from 1: ", f.bad_reply_block},
      {"--disconnect-at-block", 1, UINT32_MAX, "--disconnect-at-block takes a block number from 1: ",
       f.disconnect_at_block},
      {"--remove-at-block", 1, UINT32_MAX, "--remove-at-block takes a block number from 1: ", f.remove_at_block},
      {"--gap", 0, kMaxLineMs, "--gap must be 0 to 600000 ms: ", o.gap_ms},
      {"--off-after-failure", 0, kMaxLineMs, "--off-after-failure must be 0 to 600000 ms: ", o.off_after_failure_ms},
  };
  std::string number_text[std::size(numbers)];
  for (std::size_t i = 0; i < std::size(numbers); ++i) app.add_option(numbers[i].name, number_text[i]);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ArgumentMismatch& e) {
    return "missing value after " + tools::option_of(e.what());
  } catch (const CLI::ParseError& e) {
    return e.what();
  }
  if (help) return "";
  const std::vector<std::string> rest = app.remaining();
  if (!rest.empty()) return (rest[0].rfind("--", 0) == 0 ? "unknown option " : "unexpected argument ") + rest[0];

  auto given = [&](const char* name) { return app.count(name) > 0; };
  for (std::size_t i = 0; i < std::size(numbers); ++i) {
    if (!given(numbers[i].name)) continue;
    if (!parse_number(number_text[i].c_str(), numbers[i].lo, numbers[i].hi, numbers[i].target))
      return numbers[i].refusal + number_text[i];
  }
  if (given("--variant")) o.config.variant = static_cast<int>(variant);
  if (given("--image-length")) o.config.image_length = image_length;
  if (given("--scramble")) {
    if (scramble != "0" && scramble != "1") return "--scramble must be 0 or 1: " + scramble;
    o.config.scramble = scramble == "1";
  }
  if (given("--access-code")) {
    if (access.size() != kAccessCodeSize) return "--access-code must be exactly 6 bytes: " + access;
    std::memcpy(o.config.access_code.data(), access.data(), kAccessCodeSize);
  }
  if (given("--serial")) {
    if (const std::string why = serial_fault(serial); !why.empty()) return "--serial " + why;
    o.config.serial = serial;
  }
  if (given("--serials")) {
    if (given("--serial")) return "--serial and --serials cannot go together";
    if (o.once) return "--once cannot go with --serials: the line ends after its last printer";
    o.serials = split_commas(serials);
    if (o.serials.size() > kMaxPrinters) return "--serials takes at most 1000 printers";
    for (const std::string& sn : o.serials)
      if (const std::string why = serial_fault(sn); !why.empty()) return "--serials: each serial number " + why;
  }
  if (given("--fault-on")) {
    for (const std::string& n : split_commas(fault_on)) {
      std::uint32_t k = 0;
      if (!parse_number(n.c_str(), 1, o.serials.size(), k))
        return "--fault-on takes printer numbers from 1 to the number of --serials: " + fault_on;
      o.fault_on.push_back(k);
    }
  }
  for (const char* name : {"--gap", "--off-after-failure"})
    if (given(name) && o.serials.empty()) return std::string(name) + " applies to a line of printers: give --serials";
  if (given("--version")) o.config.version = version;
  const struct {
    const char* name;
    const std::string& value;
    std::optional<StagePoint>& point;
  } stages[] = {{"--silent", silent, f.silent}, {"--garbage", garbage, f.garbage}};
  for (const auto& st : stages) {
    if (!given(st.name)) continue;
    StagePoint sp;
    if (!parse_stage(st.value, sp))
      return std::string(st.name) + " takes query, handshake, announce, block:K (K >= 1) or wait: " + st.value;
    st.point = sp;
  }
  if (!o.device.empty() && !o.link.empty()) return "--link applies to the pty; it cannot go with --device";
  return "";
}

}  // namespace printer
