// zorven-printer: a virtual printer in firmware-update mode on a pty or a serial device.
// This file wires the options to a session and runs it: bytes read from the line go to the
// printer that is on (lineup.h, each printer the state machine of machine.h), its replies go back
// as pacing.h delivers them, and each update that ends is reported (figures.h, summary.h). The
// line itself is line.h's. Run with --help for the options.
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/printer/clock.h"
#include "tools/printer/figures.h"
#include "tools/printer/line.h"
#include "tools/printer/lineup.h"
#include "tools/printer/machine.h"
#include "tools/printer/options.h"
#include "tools/printer/pacing.h"
#include "tools/printer/summary.h"
#include "tools/replace_file.h"

namespace {

using printer::Lineup;
using printer::Machine;
using printer::now_ns;
using printer::Options;
using printer::sleep_until;
using nlohmann::json;

constexpr int kExitBadUsage = 2;
constexpr int kExitLineError = 1;
constexpr int kExitDisconnected = 3;
constexpr int kPollMs = 100;
constexpr long kNoPeerSleepNs = 20'000'000;  // a pty without an open slave reports POLLHUP at once
// An update with no byte either way for longer than the updater's longest reply wait (10 s
// for the closing reply, counted in whole seconds) has been given up by the updater.
constexpr std::int64_t kAbandonAfterNs = 12'000'000'000;
constexpr std::uint32_t kDefaultDeviceBaud = 9600;
constexpr std::size_t kReadChunk = 4096;

void on_signal(int) { printer::request_stop(); }

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
  printer::Line line;
  printer::Pacing pace;
  Lineup lineup;
  printer::Timing timing;
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

void write_summary(Session& s) {
  if (s.opt.summary.empty()) return;
  const bool line = s.line_of_printers();
  if (line) s.lineup_written = s.lineup.changes();
  if (!printer::write_summary(s.opt.summary, s.updates, line ? &s.lineup.printers() : nullptr))
    std::fprintf(stderr, "zorven-printer: cannot write %s\n", s.opt.summary.c_str());
}

void finish_update(Session& s, const printer::Result& r) {
  const std::int64_t blocks_start = std::exchange(s.blocks_start, 0);
  s.update_ended = true;
  // On a line of printers a station asks for the serial number again and again; a session that
  // never went past that query is not an update.
  if (s.line_of_printers() && !r.attempted) return;
  const json u = printer::update_figures(r, s.timing, {s.update_start, blocks_start, now_ns()}, s.pace.byte_ns);
  printer::print_figures(u);
  if (!s.opt.timing.empty()) printer::write_timing(s.opt.timing, s.timing);
  if (!s.opt.summary.empty()) {
    s.updates.push_back(u);
    write_summary(s);
  }
  if (r.image_complete && !s.opt.out.empty() &&
      tools::replace_file(s.opt.out, r.image.data(), r.image.size()) != tools::Replaced::kDone)
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

// Feeds received bytes, each at the time its stop bit arrives when paced, and sends what the
// printer answers.
void receive(Session& s, const std::uint8_t* p, std::size_t n) {
  printer::Pacing& pace = s.pace;
  printer::Timing& tm = s.timing;
  const std::int64_t t = now_ns();
  if (tm.turn_pending) {
    tm.replies.back().turn_ns = t - tm.turn_from;
    tm.turn_pending = false;
  } else if (pace.byte_ns != 0 && s.lineup.on() && s.lineup.on()->active() && t > pace.rx_free) {
    tm.gap_ns += t - pace.rx_free;
  }
  std::int64_t arrival = std::max(pace.rx_free, t);
  s.lineup.tick(t);
  take_results(s);
  for (std::size_t i = 0; i < n && !s.disconnected; ++i) {
    arrival += pace.byte_ns;
    Machine* m = s.lineup.on();
    if (m == nullptr) continue;  // no printer on the line: the byte goes unanswered
    const bool was_active = m->active();
    const bool was_blocks = m->in_blocks();
    const int queries_before = m->queries_answered();
    m->feed(p[i]);
    s.disconnected = m->disconnect_requested();
    const bool query_answered = m->queries_answered() != queries_before;
    if (!was_active && m->active()) {
      s.update_start = pace.byte_ns ? arrival : t;
      tm = printer::Timing{};
    }
    if (m->active()) ++tm.rx_bytes;
    const std::vector<std::string> replies = m->take_replies();
    std::int64_t start = arrival;  // paced: a reply may start once the received byte's stop bit is in
    for (const std::string& r : replies) {
      if (s.opt.delay_ms != 0) {
        const std::int64_t delay = static_cast<std::int64_t>(s.opt.delay_ms) * 1'000'000;
        if (pace.byte_ns != 0) {
          start = std::max(start, pace.tx_free) + delay;
        } else {
          sleep_until(now_ns() + delay);
        }
      }
      if (query_answered && &r == &replies.front()) {
        printer::transmit_held_end(s.line.fd, pace, r, start,
                                   static_cast<std::int64_t>(s.opt.query_end_late_ms) * 1'000'000,
                                   s.opt.query_end_never);
      } else {
        printer::transmit(s.line.fd, pace, r, start);
      }
      printer::ReplyTiming rt;
      rt.block = was_blocks;
      // Paced, the wire's free time is when a UART would have had the reply's last stop bit out.
      if (pace.byte_ns != 0) rt.late_ns = now_ns() - pace.tx_free;
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
  pace.rx_free = arrival;
  s.last_activity = now_ns();
}

int serve(Session& s) {
  printer::Line& l = s.line;
  bool peer_seen = false;  // a pty's slave has been opened since the last hang-up
  std::uint8_t buf[kReadChunk];
  while (!printer::stop_requested()) {
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
    std::fputs(printer::help_text().c_str(), stdout);
    return 0;
  }
  if (!err.empty()) {
    std::fprintf(stderr, "zorven-printer: %s\n", err.c_str());
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
    if (!printer::open_pty(s.line, opt.link)) {
      std::fprintf(stderr, "zorven-printer: cannot set up the pty\n");
      printer::close_line(s.line);
      return kExitLineError;
    }
    // A pty has no UART: the printer paces the bytes itself.
    s.pace = printer::pty_pacing(opt.baud, opt.usb_latency_ms);
    take_results(s);  // the line's first printer is on, and the summary says so, before the pty is announced
    std::printf("PTY %s\n", s.line.slave.c_str());
    std::fflush(stdout);
  } else if (!printer::open_device(s.line, opt.device, opt.baud ? opt.baud : kDefaultDeviceBaud)) {
    std::fprintf(stderr, "zorven-printer: cannot open %s: %s\n", opt.device.c_str(), std::strerror(errno));
    printer::close_line(s.line);
    return kExitLineError;
  }
  const int rc = serve(s);
  printer::close_line(s.line);
  return rc;
}
