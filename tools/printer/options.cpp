#include "tools/printer/options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

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

bool takes_value(const std::string& a) {
  static const char* const kValued[] = {"--device",  "--link",    "--out",          "--variant",     "--scramble",
                                        "--access-code", "--serial", "--version", "--image-length", "--delay",
                                        "--baud", "--silent", "--garbage", "--retry-every", "--retry-times",
                                        "--bad-reply-block", "--disconnect-at-block", "--timing",
                                        "--query-end-late", "--usb-latency"};
  for (const char* k : kValued)
    if (a == k) return true;
  return false;
}

}  // namespace

std::string parse_options(int argc, const char* const* argv, Options& o, bool& help) {
  help = false;
  Faults& f = o.config.faults;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    // Flags without a value.
    if (a == "--help" || a == "-h") {
      help = true;
      return "";
    }
    if (a == "--once") { o.once = true; continue; }
    if (a == "--refuse-handshake") { f.refuse_handshake = true; continue; }
    if (a == "--refuse-first") { f.refuse_first = true; continue; }
    if (a == "--no-wait") { f.no_wait = true; continue; }
    if (a == "--query-end-never") { o.query_end_never = true; continue; }
    if (a.rfind("--", 0) != 0) return "unexpected argument " + a;
    if (!takes_value(a)) return "unknown option " + a;
    if (i + 1 >= argc) return "missing value after " + a;
    const char* v = argv[++i];
    const std::string value = v;
    std::uint32_t n = 0;
    StagePoint sp;
    if (a == "--device") {
      o.device = value;
    } else if (a == "--link") {
      o.link = value;
    } else if (a == "--out") {
      o.out = value;
    } else if (a == "--timing") {
      o.timing = value;
    } else if (a == "--variant") {
      if (!parse_number(v, 0, 4, n)) return "--variant must be 0 to 4: " + value;
      o.config.variant = static_cast<int>(n);
    } else if (a == "--scramble") {
      if (value != "0" && value != "1") return "--scramble must be 0 or 1: " + value;
      o.config.scramble = value == "1";
    } else if (a == "--access-code") {
      if (value.size() != kAccessCodeSize) return "--access-code must be exactly 6 bytes: " + value;
      std::memcpy(o.config.access_code.data(), value.data(), kAccessCodeSize);
    } else if (a == "--serial") {
      if (value.empty() || value.size() > kMaxSerial) return "--serial must be 1 to 200 characters";
      for (char c : value)
        if (static_cast<unsigned char>(c) < 0x20 || c == ';') return "--serial must be printable and hold no ';'";
      o.config.serial = value;
    } else if (a == "--version") {
      o.config.version = value;
    } else if (a == "--image-length") {
      if (!parse_number(v, 1, kMaxImageLength, n)) return "--image-length must be 1 to 67108864: " + value;
      o.config.image_length = n;
    } else if (a == "--delay") {
      if (!parse_number(v, 0, kMaxDelayMs, n)) return "--delay must be 0 to 60000 ms: " + value;
      o.delay_ms = n;
    } else if (a == "--query-end-late") {
      if (!parse_number(v, 0, kMaxDelayMs, n)) return "--query-end-late must be 0 to 60000 ms: " + value;
      o.query_end_late_ms = n;
    } else if (a == "--usb-latency") {
      if (!parse_number(v, 1, kMaxUsbLatencyMs, n)) return "--usb-latency must be 1 to 255 ms: " + value;
      o.usb_latency_ms = n;
    } else if (a == "--baud") {
      if (!parse_number(v, kMinBaud, kMaxBaud, n)) return "--baud must be 9600 to 115200: " + value;
      o.baud = n;
    } else if (a == "--silent" || a == "--garbage") {
      if (!parse_stage(value, sp)) return a + " takes query, handshake, announce, block:K (K >= 1) or wait: " + value;
      (a == "--silent" ? f.silent : f.garbage) = sp;
    } else if (a == "--retry-times") {
      if (!parse_number(v, 1, kMaxRetryTimes, n)) return "--retry-times must be 1 to 1000: " + value;
      f.retry_times = n;
    } else if (a == "--retry-every" || a == "--bad-reply-block" || a == "--disconnect-at-block") {
      if (!parse_number(v, 1, UINT32_MAX, n)) return a + " takes a block number from 1: " + value;
      (a == "--retry-every" ? f.retry_every : a == "--bad-reply-block" ? f.bad_reply_block : f.disconnect_at_block) = n;
    }
  }
  if (!o.device.empty() && !o.link.empty()) return "--link applies to the pty; it cannot go with --device";
  return "";
}

}  // namespace printer
