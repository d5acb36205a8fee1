#include "tools/printer/options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <vector>

#include <CLI/CLI.hpp>

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
    " faults:\n"
    "  --silent STAGE          no reply at STAGE: query|handshake|announce|block:K|wait\n"
    "  --garbage STAGE         \"GARBAGE\\r\\n\" instead of the reply at STAGE\n"
    "  --refuse-handshake      refuse every entry frame (status \"01\")\n"
    "  --refuse-first          refuse only the first entry frame (variant 3 then retries plain)\n"
    "  --retry-every K         answer RETRY once to blocks K, 2K, 3K, ...\n"
    "  --retry-times R         ... R times each instead of once (a RETRY storm)\n"
    "  --bad-reply-block K     answer block K with \"BUSY\" (neither OK nor RETRY)\n"
    "  --disconnect-at-block K close the line instead of answering block K, then exit\n"
    "  --no-wait               no WAIT after the last block (same as --silent wait)\n"
    " Blocks are numbered from 1. A summary line per update goes to stderr.\n";

namespace {

constexpr std::uint32_t kMinBaud = 9600;
constexpr std::uint32_t kMaxBaud = 115200;
constexpr std::size_t kMaxSerial = 200;  // the reply's data (serial, ';', model) fits 220 bytes
constexpr std::uint32_t kMaxDelayMs = 60000;
constexpr std::uint32_t kMaxUsbLatencyMs = 255;  // the range of an adapter's latency timer
constexpr std::uint32_t kMaxRetryTimes = 1000;

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

// CLI11 reports a missing value as "--name: 1 required TEXT missing"; the option is what precedes
// the colon.
std::string option_of(const std::string& what) { return what.substr(0, what.find(':')); }

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
  std::string version, scramble, access, serial, silent, garbage;
  app.add_option("--version", version);
  app.add_option("--scramble", scramble);
  app.add_option("--access-code", access);
  app.add_option("--serial", serial);
  app.add_option("--silent", silent);
  app.add_option("--garbage", garbage);

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
  };
  std::string number_text[std::size(numbers)];
  for (std::size_t i = 0; i < std::size(numbers); ++i) app.add_option(numbers[i].name, number_text[i]);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ArgumentMismatch& e) {
    return "missing value after " + option_of(e.what());
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
    if (serial.empty() || serial.size() > kMaxSerial) return "--serial must be 1 to 200 characters";
    for (char c : serial)
      if (static_cast<unsigned char>(c) < 0x20 || c == ';') return "--serial must be printable and hold no ';'";
    o.config.serial = serial;
  }
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
