// zorven-printer: a virtual printer in firmware-update mode on a pty or a serial device.
// This file holds the line handling (pty, termios, pacing, delays, summaries); the protocol is
// the state machine of machine.h, and the printers that come and go on the line are lineup.h's.
// Run with --help for the options.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/printer/lineup.h"
#include "tools/printer/machine.h"
#include "tools/printer/options.h"

namespace {

using printer::Lineup;
using printer::Machine;
using printer::Options;
using nlohmann::json;

constexpr int kExitBadUsage = 2;
constexpr int kExitLineError = 1;
constexpr int kExitDisconnected = 3;
constexpr int kPollMs = 100;
constexpr long kNoPeerSleepNs = 20'000'000;  // a pty without an open slave reports POLLHUP at once
// An update with no byte either way for longer than the updater's longest reply wait (10 s
// for the closing reply, counted in whole seconds) has been given up by the updater.
constexpr std::int64_t kAbandonAfterNs = 12'000'000'000;
constexpr std::int64_t kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
constexpr std::uint32_t kDefaultDeviceBaud = 9600;
constexpr std::size_t kReadChunk = 4096;
constexpr std::size_t kUsbPacketBytes = 62;  // data bytes of one packet of an FTDI adapter

volatile sig_atomic_t g_stop = 0;
void on_signal(int) { g_stop = 1; }

std::int64_t now_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

void sleep_until(std::int64_t t) {
  timespec ts{static_cast<time_t>(t / 1'000'000'000), static_cast<long>(t % 1'000'000'000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR && !g_stop) {
  }
}

speed_t speed_constant(std::uint32_t baud) {
  switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
  }
}

bool make_raw(int fd, std::uint32_t baud) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  if (baud != 0 && speed_constant(baud) != B0) {
    cfsetispeed(&t, speed_constant(baud));
    cfsetospeed(&t, speed_constant(baud));
  }
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

void write_all(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return;  // the peer is gone; the reply is lost as on a cut line
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
}

bool write_file(const std::string& path, const std::vector<std::uint8_t>& data) {
  const std::string tmp = path + ".tmp";
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) return false;
  bool ok = data.empty() || std::fwrite(data.data(), data.size(), 1, f) == 1;
  ok = std::fclose(f) == 0 && ok;
  if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

// The line: a pty master or a serial device, with the pacing of a UART when the line is a pty.
struct Line {
  int fd = -1;
  bool pty = false;
  std::string slave;        // pty slave path
  std::string link;         // symlink we made
  std::int64_t byte_ns = 0;  // wire time of one byte; 0: no pacing
  std::int64_t rx_free = 0;  // when the receive wire is next idle
  std::int64_t tx_free = 0;  // when the transmit wire is next idle
  std::int64_t usb_ns = 0;   // latency timer of the USB adapter the host reads through; 0: none
};

bool open_pty(Line& l, const std::string& link) {
  l.fd = posix_openpt(O_RDWR | O_NOCTTY);
  if (l.fd < 0 || grantpt(l.fd) != 0 || unlockpt(l.fd) != 0) return false;
  const char* name = ptsname(l.fd);
  if (!name) return false;
  l.slave = name;
  l.pty = true;
  // Raw from the start: an echoing line discipline would hand the printer its own replies.
  make_raw(l.fd, 0);
  if (!link.empty()) {
    struct stat st{};
    if (lstat(link.c_str(), &st) == 0) {
      if (!S_ISLNK(st.st_mode)) {
        std::fprintf(stderr, "zorven-printer: %s exists and is not a symlink; not replacing it\n", link.c_str());
        return false;
      }
      unlink(link.c_str());
    }
    if (symlink(l.slave.c_str(), link.c_str()) != 0) {
      std::fprintf(stderr, "zorven-printer: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
      return false;
    }
    l.link = link;
  }
  return true;
}

void close_line(Line& l) {
  if (!l.link.empty()) {
    char target[4096];
    const ssize_t n = readlink(l.link.c_str(), target, sizeof target - 1);
    if (n > 0) {
      target[n] = 0;
      if (l.slave == target) unlink(l.link.c_str());  // only while it still points at our pty
    }
    l.link.clear();
  }
  if (l.fd >= 0) close(l.fd);
  l.fd = -1;
}

// Sends one reply, byte by byte at the line rate when paced: as a UART that may start the reply at
// `start` (or once the wire is free) and puts one byte out every byte time. No byte leaves before
// its stop bit would be out; a late wake-up delays only the byte it was for, not the bytes after
// it, so the printer's own lateness does not add up over a reply.
//
// Behind a USB serial adapter (usb_ns set) the host sees no single bytes: the adapter collects
// what comes off the wire and hands it over as one packet when kUsbPacketBytes are in or when its
// latency timer, started by the packet's first byte, runs out, whichever comes first.
void transmit(Line& l, const std::string& r, std::int64_t start) {
  if (l.usb_ns == 0 && l.byte_ns == 0) {
    write_all(l.fd, r.data(), r.size());
    return;
  }
  std::int64_t end = l.byte_ns != 0 ? std::max(l.tx_free, start) : now_ns();
  if (l.usb_ns == 0) {
    for (char c : r) {
      end += l.byte_ns;
      sleep_until(end);  // the byte is at the far end once its stop bit is out
      write_all(l.fd, &c, 1);
    }
    l.tx_free = end;
    return;
  }
  std::size_t sent = 0;
  while (sent < r.size()) {
    const std::int64_t timer_out = end + l.byte_ns + l.usb_ns;
    std::size_t n = 0;
    while (sent + n < r.size() && n < kUsbPacketBytes && end + l.byte_ns <= timer_out) {
      end += l.byte_ns;
      ++n;
    }
    sleep_until(n == kUsbPacketBytes ? end : timer_out);
    write_all(l.fd, r.data() + sent, n);
    sent += n;
  }
  if (l.byte_ns != 0) l.tx_free = end;
}

// What the printer knows about the time of one update. Paced, each reply has a time at which a
// UART would have put its last stop bit on the wire (the received message's last byte plus the
// reply's own wire time); the printer's lateness is how much later it really wrote that byte. The
// turnaround after a reply runs from its last byte out to the updater's next byte read here: the
// updater's own time with the pty, Wine and the printer's wake-up included. A receive gap is a
// pause inside an updater's message that the wire time of the bytes before it does not cover.
struct ReplyTiming {
  std::int64_t late_ns = 0;   // 0 when the line is not paced
  std::int64_t turn_ns = -1;  // -1: no byte from the updater followed
  bool block = false;         // the verdict on an image block
};

struct Timing {
  std::vector<ReplyTiming> replies;
  std::int64_t gap_ns = 0;
  std::uint64_t rx_bytes = 0;  // from the byte that began the update
  std::uint64_t tx_bytes = 0;
  std::int64_t turn_from = 0;  // last reply byte out, while a turnaround is pending
  bool turn_pending = false;
};

printer::LineupConfig lineup_config(const Options& o, bool close_visible) {
  printer::LineupConfig c;
  c.printer = o.config;
  c.serials = o.serials;
  c.fault_on = o.fault_on;
  c.gap_ns = static_cast<std::int64_t>(o.gap_ms) * 1'000'000;
  c.off_after_failure_ns = static_cast<std::int64_t>(o.off_after_failure_ms) * 1'000'000;
  c.close_visible = close_visible;
  return c;
}

struct Session {
  Options opt;
  Line line;
  Lineup lineup;
  Timing timing;
  std::int64_t update_start = 0;
  std::int64_t blocks_start = 0;
  std::int64_t last_activity = 0;
  bool update_ended = false;
  bool disconnected = false;     // a disconnect fault closed the line
  json updates = json::array();  // the figures of every update served, for --summary
  std::uint64_t lineup_written = 0;  // the line's change count the summary shows
  Session(const Options& o, bool pty) : opt(o), lineup(lineup_config(o, pty), now_ns()) {}
  bool line_of_printers() const { return !opt.serials.empty(); }
};

void print_events(Session& s) {
  for (const std::string& e : s.lineup.take_events()) std::fprintf(stderr, "zorven-printer: %s\n", e.c_str());
}

std::int64_t percentile(const std::vector<std::int64_t>& sorted, int pct) {
  if (sorted.empty()) return 0;
  // Nearest rank: the smallest value with at least pct % of the values at or below it.
  const std::size_t rank = (sorted.size() * static_cast<std::size_t>(pct) + 99) / 100;
  return sorted[rank == 0 ? 0 : rank - 1];
}

// A figure as the summary line shows it, rounded to `digits` decimals; the JSON summary carries
// the same numbers.
double shown(double v, int digits) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", digits, v);
  return std::strtod(buf, nullptr);
}
double ms(std::int64_t ns) { return shown(static_cast<double>(ns) / 1e6, 3); }
double us(std::int64_t ns) { return shown(static_cast<double>(ns) / 1e3, 1); }

// The figures of one update: the outcome, the block phase, the printer's own lateness, the
// updater's turnarounds after block verdicts and after other replies, the receive gaps, and how
// they and the wire time of every byte add up against the update time.
json update_figures(const Session& s, const printer::Result& r, std::int64_t blocks_start, std::int64_t end_ns) {
  const Timing& tm = s.timing;
  const std::int64_t update_ns = end_ns - s.update_start;
  json u = {{"ok", r.ok},
            {"outcome", r.ok ? "update ok" : "update failed"},
            {"reason", r.reason},
            {"bytes", r.stats.bytes},
            {"blocks", r.stats.blocks},
            {"retries", r.stats.retries},
            {"crc_errors", r.stats.crc_errors},
            {"seconds", shown(static_cast<double>(update_ns) / 1e9, 3)},
            {"block_phase", nullptr},
            {"accounting", nullptr}};
  if (r.image_complete && blocks_start != 0 && r.stats.blocks > 0) {
    const double bsecs = static_cast<double>(end_ns - blocks_start) / 1e9;
    u["block_phase"] = {{"blocks", r.stats.blocks},
                        {"seconds", shown(bsecs, 3)},
                        {"blocks_per_s", shown(r.stats.blocks / bsecs, 1)},
                        {"ms_per_block", shown(bsecs * 1000.0 / r.stats.blocks, 3)},
                        {"bytes_per_s", shown(static_cast<double>(r.stats.bytes) / bsecs, 0)}};
  }
  std::vector<std::int64_t> late, block_turns;
  std::int64_t late_sum = 0, block_sum = 0, other_sum = 0;
  std::size_t other_n = 0;
  for (const ReplyTiming& rt : tm.replies) {
    late.push_back(rt.late_ns);
    late_sum += rt.late_ns;
    if (rt.turn_ns < 0) continue;
    if (rt.block) {
      block_turns.push_back(rt.turn_ns);
      block_sum += rt.turn_ns;
    } else {
      ++other_n;
      other_sum += rt.turn_ns;
    }
  }
  std::sort(late.begin(), late.end());
  std::sort(block_turns.begin(), block_turns.end());
  u["lateness"] = {{"replies", late.size()},
                   {"total_ms", ms(late_sum)},
                   {"median_us", us(percentile(late, 50))},
                   {"p99_us", us(percentile(late, 99))},
                   {"max_us", late.empty() ? 0.0 : us(late.back())}};
  u["turnaround"] = {{"blocks", block_turns.size()},
                     {"median_us", us(percentile(block_turns, 50))},
                     {"p90_us", us(percentile(block_turns, 90))},
                     {"p99_us", us(percentile(block_turns, 99))},
                     {"sum_ms", ms(block_sum)},
                     {"others", other_n},
                     {"others_sum_ms", ms(other_sum)},
                     {"gaps_ms", ms(tm.gap_ns)}};
  if (s.line.byte_ns != 0) {
    // The update time starts at the first byte's stop bit, so that byte's wire time is not in it.
    const std::uint64_t bytes = tm.rx_bytes + tm.tx_bytes;
    const std::int64_t wire = static_cast<std::int64_t>(bytes > 0 ? bytes - 1 : 0) * s.line.byte_ns;
    u["accounting"] = {{"bytes", bytes},
                       {"wire_ms", ms(wire)},
                       {"lateness_ms", ms(late_sum)},
                       {"turnarounds_ms", ms(block_sum)},
                       {"others_ms", ms(other_sum)},
                       {"gaps_ms", ms(tm.gap_ns)},
                       {"accounted_ms", ms(wire + late_sum + block_sum + other_sum + tm.gap_ns)},
                       {"update_ms", ms(update_ns)}};
  }
  return u;
}

// The same figures as lines on stderr, for a person watching the printer.
void print_figures(const json& u) {
  std::fprintf(stderr,
               "zorven-printer: summary: %s; %llu bytes received, %u blocks, %u retries, %u CRC errors, "
               "%.3f s (%s)\n",
               u["outcome"].get<std::string>().c_str(), u["bytes"].get<unsigned long long>(),
               u["blocks"].get<unsigned>(), u["retries"].get<unsigned>(), u["crc_errors"].get<unsigned>(),
               u["seconds"].get<double>(), u["reason"].get<std::string>().c_str());
  if (const json& b = u["block_phase"]; !b.is_null())
    std::fprintf(stderr, "zorven-printer: block phase: %u blocks in %.3f s, %.1f blocks/s, %.3f ms/block, %.0f bytes/s\n",
                 b["blocks"].get<unsigned>(), b["seconds"].get<double>(), b["blocks_per_s"].get<double>(),
                 b["ms_per_block"].get<double>(), b["bytes_per_s"].get<double>());
  const json& l = u["lateness"];
  std::fprintf(stderr,
               "zorven-printer: lateness: %zu replies, total %.3f ms, median %.1f us, p99 %.1f us, max %.1f us\n",
               l["replies"].get<std::size_t>(), l["total_ms"].get<double>(), l["median_us"].get<double>(),
               l["p99_us"].get<double>(), l["max_us"].get<double>());
  const json& t = u["turnaround"];
  std::fprintf(stderr,
               "zorven-printer: block turnaround: %zu, median %.1f us, p90 %.1f us, p99 %.1f us, sum %.3f ms; "
               "other turnarounds: %zu, sum %.3f ms; receive gaps: %.3f ms\n",
               t["blocks"].get<std::size_t>(), t["median_us"].get<double>(), t["p90_us"].get<double>(),
               t["p99_us"].get<double>(), t["sum_ms"].get<double>(), t["others"].get<std::size_t>(),
               t["others_sum_ms"].get<double>(), t["gaps_ms"].get<double>());
  if (const json& a = u["accounting"]; !a.is_null())
    std::fprintf(stderr,
                 "zorven-printer: accounting: wire %llu bytes %.3f ms + lateness %.3f + turnarounds %.3f + %.3f + "
                 "gaps %.3f = %.3f ms of the update's %.3f ms\n",
                 a["bytes"].get<unsigned long long>(), a["wire_ms"].get<double>(), a["lateness_ms"].get<double>(),
                 a["turnarounds_ms"].get<double>(), a["others_ms"].get<double>(), a["gaps_ms"].get<double>(),
                 a["accounted_ms"].get<double>(), a["update_ms"].get<double>());
}

void write_timing(const Session& s) {
  if (s.opt.timing.empty()) return;
  const Timing& tm = s.timing;
  std::FILE* f = std::fopen(s.opt.timing.c_str(), "w");
  if (!f) {
    std::fprintf(stderr, "zorven-printer: cannot write %s\n", s.opt.timing.c_str());
    return;
  }
  std::fprintf(f, "# reply block late_us turnaround_us\n");
  for (std::size_t i = 0; i < tm.replies.size(); ++i)
    std::fprintf(f, "%zu %d %.1f %.1f\n", i + 1, tm.replies[i].block ? 1 : 0, us(tm.replies[i].late_ns),
                 tm.replies[i].turn_ns < 0 ? -1.0 : us(tm.replies[i].turn_ns));
  std::fclose(f);
}

const char* power_name(printer::Power p) {
  switch (p) {
    case printer::Power::kWaiting: return "waiting";
    case printer::Power::kOn: return "on";
    case printer::Power::kOff: return "off";
  }
  return "";
}

// Every update served so far, and with --serials every printer of the line, rewritten whole, so
// that a reader never sees half a file.
void write_summary(Session& s) {
  if (s.opt.summary.empty()) return;
  json doc = {{"updates", s.updates}};
  if (s.line_of_printers()) {
    json printers = json::array();
    const auto& recs = s.lineup.printers();
    for (std::size_t i = 0; i < recs.size(); ++i) {
      const printer::PrinterRecord& p = recs[i];
      printers.push_back({{"number", i + 1},
                          {"serial", p.serial},
                          {"faulty", p.faulty},
                          {"state", power_name(p.power)},
                          {"outcome", p.outcome},
                          {"attempts", p.attempts},
                          {"bytes", p.stats.bytes},
                          {"blocks", p.stats.blocks},
                          {"retries", p.stats.retries}});
    }
    doc["printers"] = printers;
    s.lineup_written = s.lineup.changes();
  }
  const std::string text = doc.dump(2) + "\n";
  if (!write_file(s.opt.summary, std::vector<std::uint8_t>(text.begin(), text.end())))
    std::fprintf(stderr, "zorven-printer: cannot write %s\n", s.opt.summary.c_str());
}

void finish_update(Session& s, const printer::Result& r) {
  const std::int64_t blocks_start = std::exchange(s.blocks_start, 0);
  s.update_ended = true;
  // On a line of printers a station asks for the serial number again and again; a session that
  // never went past that query is not an update.
  if (s.line_of_printers() && !r.attempted) return;
  const json u = update_figures(s, r, blocks_start, now_ns());
  print_figures(u);
  write_timing(s);
  if (!s.opt.summary.empty()) {
    s.updates.push_back(u);
    write_summary(s);
  }
  if (r.image_complete && !s.opt.out.empty() && !write_file(s.opt.out, r.image))
    std::fprintf(stderr, "zorven-printer: cannot write %s\n", s.opt.out.c_str());
}

// Takes the updates that ended and the notes about them, and brings the summary up to date with
// the printers going on and off.
void take_results(Session& s) {
  for (;;) {
    std::optional<printer::Result> r = s.lineup.take_result(now_ns());
    print_events(s);
    if (!r) break;
    finish_update(s, *r);
  }
  if (s.line_of_printers() && s.lineup.changes() != s.lineup_written) write_summary(s);
}

// The identification reply, with its end (checksum characters and LF) held back as a USB serial
// adapter may hold it: late by the option's milliseconds, or never sent.
void transmit_query_reply(Session& s, const std::string& r, std::int64_t start) {
  constexpr std::size_t kReplyEnd = 3;
  Line& l = s.line;
  if ((s.opt.query_end_late_ms == 0 && !s.opt.query_end_never) || r.size() < kReplyEnd) {
    transmit(l, r, start);
    return;
  }
  transmit(l, r.substr(0, r.size() - kReplyEnd), start);
  if (s.opt.query_end_never) return;
  const std::int64_t late = static_cast<std::int64_t>(s.opt.query_end_late_ms) * 1'000'000;
  if (l.byte_ns != 0) {
    transmit(l, r.substr(r.size() - kReplyEnd), l.tx_free + late);
  } else {
    sleep_until(now_ns() + late);
    transmit(l, r.substr(r.size() - kReplyEnd), start);
  }
}

// Feeds received bytes, each at the time its stop bit arrives when paced, and sends what the
// printer answers.
void receive(Session& s, const std::uint8_t* p, std::size_t n) {
  Line& l = s.line;
  Timing& tm = s.timing;
  const std::int64_t t = now_ns();
  if (tm.turn_pending) {
    tm.replies.back().turn_ns = t - tm.turn_from;
    tm.turn_pending = false;
  } else if (l.byte_ns != 0 && s.lineup.on() && s.lineup.on()->active() && t > l.rx_free) {
    tm.gap_ns += t - l.rx_free;
  }
  std::int64_t arrival = std::max(l.rx_free, t);
  s.lineup.tick(t);
  take_results(s);
  for (std::size_t i = 0; i < n && !s.disconnected; ++i) {
    arrival += l.byte_ns;
    Machine* m = s.lineup.on();
    if (m == nullptr) continue;  // no printer on the line: the byte goes unanswered
    const bool was_active = m->active();
    const bool was_blocks = m->in_blocks();
    const int queries_before = m->queries_answered();
    m->feed(p[i]);
    s.disconnected = m->disconnect_requested();
    const bool query_answered = m->queries_answered() != queries_before;
    if (!was_active && m->active()) {
      s.update_start = l.byte_ns ? arrival : t;
      tm = Timing{};
    }
    if (m->active()) ++tm.rx_bytes;
    const std::vector<std::string> replies = m->take_replies();
    std::int64_t start = arrival;  // paced: a reply may start once the received byte's stop bit is in
    for (const std::string& r : replies) {
      if (s.opt.delay_ms != 0) {
        const std::int64_t delay = static_cast<std::int64_t>(s.opt.delay_ms) * 1'000'000;
        if (l.byte_ns != 0) {
          start = std::max(start, l.tx_free) + delay;
        } else {
          sleep_until(now_ns() + delay);
        }
      }
      if (query_answered && &r == &replies.front()) {
        transmit_query_reply(s, r, start);
      } else {
        transmit(l, r, start);
      }
      ReplyTiming rt;
      rt.block = was_blocks;
      // Paced, the wire's free time is when a UART would have had the reply's last stop bit out.
      if (l.byte_ns != 0) rt.late_ns = now_ns() - l.tx_free;
      tm.replies.push_back(rt);
      tm.tx_bytes += r.size();
    }
    if (!replies.empty()) {
      tm.turn_from = now_ns();
      tm.turn_pending = true;
    }
    if (!was_blocks && m->in_blocks()) s.blocks_start = now_ns();
    take_results(s);  // may take the printer off the line
  }
  l.rx_free = arrival;
  s.last_activity = now_ns();
}

int serve(Session& s) {
  Line& l = s.line;
  bool peer_seen = false;  // a pty's slave has been opened since the last hang-up
  std::uint8_t buf[kReadChunk];
  while (!g_stop) {
    s.lineup.tick(now_ns());
    take_results(s);
    // Wake up in time for the next printer to come on or a failed one to be taken away.
    int wait_ms = kPollMs;
    if (const std::int64_t due = s.lineup.next_due(); due != Lineup::kNever)
      wait_ms = static_cast<int>(std::clamp<std::int64_t>((due - now_ns() + 999'999) / 1'000'000, 0, kPollMs));
    pollfd pfd{l.fd, POLLIN, 0};
    const int r = poll(&pfd, 1, wait_ms);
    if (r < 0 && errno != EINTR) break;
    bool hung_up = false;
    if (r > 0 && (pfd.revents & POLLIN)) {
      const ssize_t n = read(l.fd, buf, sizeof buf);
      if (n > 0) {
        peer_seen = true;
        receive(s, buf, static_cast<std::size_t>(n));
      } else if (n < 0 && errno == EIO) {
        hung_up = true;
      }
    } else if (r > 0 && (pfd.revents & (POLLHUP | POLLERR))) {
      hung_up = true;
    }
    if (s.disconnected) return kExitDisconnected;
    if (hung_up) {
      // An update in progress ends here; the line and its printers stay.
      s.lineup.port_closed(now_ns());
      take_results(s);
      if (peer_seen && s.opt.once && s.update_ended) return 0;
      if (s.lineup.done()) return 0;  // the last printer is off and the updater has let go of the port
      peer_seen = false;
      timespec ts{0, kNoPeerSleepNs};
      nanosleep(&ts, nullptr);
      continue;
    }
    if (Machine* m = s.lineup.on(); m && m->active() && now_ns() - s.last_activity > kAbandonAfterNs) {
      m->abandon("no byte from the updater for 12 s");
      take_results(s);
    }
    // On a serial device there is no hang-up to wait for.
    if (!l.pty && ((s.opt.once && s.update_ended) || s.lineup.done())) return 0;
  }
  if (Machine* m = s.lineup.on(); m && m->active()) {
    m->abandon("interrupted");
    take_results(s);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  bool help = false;
  const std::string err = printer::parse_options(argc, argv, opt, help);
  if (help) {
    std::fputs(printer::kUsage, stdout);
    return 0;
  }
  if (!err.empty()) {
    std::fprintf(stderr, "zorven-printer: %s\n", err.c_str());
    std::fputs(printer::kUsage, stderr);
    return kExitBadUsage;
  }

  struct sigaction sa{};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Session s(opt, opt.device.empty());
  if (opt.device.empty()) {
    if (!open_pty(s.line, opt.link)) {
      std::fprintf(stderr, "zorven-printer: cannot set up the pty\n");
      close_line(s.line);
      return kExitLineError;
    }
    // A pty has no UART: the printer paces the bytes itself.
    if (opt.baud != 0) s.line.byte_ns = kBitsPerByte * 1'000'000'000 / opt.baud;
    // The kernel may let a timed sleep run over by the thread's timer slack (50 us by default),
    // which would make every paced byte late by up to that much.
    s.line.usb_ns = static_cast<std::int64_t>(opt.usb_latency_ms) * 1'000'000;
    if (opt.baud != 0 || opt.usb_latency_ms != 0) prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    take_results(s);  // the line's first printer is on, and the summary says so, before the pty is announced
    std::printf("PTY %s\n", s.line.slave.c_str());
    std::fflush(stdout);
  } else {
    s.line.fd = open(opt.device.c_str(), O_RDWR | O_NOCTTY);
    if (s.line.fd < 0 || !make_raw(s.line.fd, opt.baud ? opt.baud : kDefaultDeviceBaud)) {
      std::fprintf(stderr, "zorven-printer: cannot open %s: %s\n", opt.device.c_str(), std::strerror(errno));
      close_line(s.line);
      return kExitLineError;
    }
  }
  const int rc = serve(s);
  close_line(s.line);
  return rc;
}
