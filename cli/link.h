// The line between the station and one printer as far as the station can tell. Most station ports
// are USB serial adapters, which hand received bytes to the host in packets: when a packet is full
// or when the adapter's latency timer runs out. Every block waits for a 4-byte verdict, far less
// than a packet, so each block costs up to one latency timer: with the common 16 ms that can be a
// third of an update at 115200 bits per second. zorven-cli asks the serial driver for low latency
// where it can, reads the adapter's timer where the system shows it, and measures each block's
// turnaround, so a station that is slow for this reason says so.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "serial/port.h"

namespace cli {

// Above this latency timer the terminal gets a warning: 1 ms is what the drivers allow at least,
// 2 ms still leaves an update within a few per cent of the wire time.
inline constexpr std::int32_t kLatencyWarnAboveMs = 2;

struct LinkSetup {
  std::int32_t latency_timer_ms = -1;  // the adapter's latency timer; -1 where the system shows none
  bool low_latency = false;            // the serial driver took the request for low latency
};

// How long blocks waited for their verdicts: from the end of the write request that sent a
// block's last byte (its CRC) to the end of the read that completed the verdict. A fixed
// histogram of 0.1 ms steps up to 1 s keeps every run's figures without allocating during the
// run; a longer wait counts in the last step, and the longest is kept exactly.
class Turnarounds {
 public:
  static constexpr std::int64_t kStepUs = 100;
  static constexpr std::size_t kSteps = 10000;

  void add(std::chrono::microseconds wait);
  std::uint32_t count() const { return count_; }
  // The nearest-rank percentile (0 < p <= 100) in ms: the upper edge of the step it falls in,
  // never above the longest wait. 0 when nothing was added.
  double percentile_ms(double p) const;
  double max_ms() const { return static_cast<double>(max_us_) / 1000.0; }

 private:
  std::uint32_t steps_[kSteps] = {};
  std::uint32_t count_ = 0;
  std::int64_t max_us_ = 0;
};

// What one run learns about its line: the set-up found when the port was opened, the block
// turnarounds and the RETRY verdicts. The run's port and its observer fill it, on the run's
// thread; it is read once the run is over.
struct LinkRecord {
  LinkSetup setup;
  std::chrono::steady_clock::time_point last_write{};
  bool written = false;  // last_write holds the end of a write request
  Turnarounds turnarounds;
  std::uint32_t retries = 0;

  // A block's verdict has been read.
  void block_answered(bool retry);
  // Forgets everything: the next run starts afresh.
  void reset() {
    setup = LinkSetup{};
    written = false;
    turnarounds = Turnarounds{};
    retries = 0;
  }
};

// The run's port with the end of every write request noted in the record; otherwise the port
// itself.
class WatchedPort final : public serial::Port {
 public:
  explicit WatchedPort(LinkRecord& record) : record_(record) {}
  void attach(serial::Port* inner) { inner_ = inner; }

  bool read(void* dst, std::uint32_t want, std::uint32_t& got) override;
  bool write(const void* src, std::uint32_t n, std::uint32_t& written) override;
  std::uint32_t queued() override;
  void close() override;

 private:
  LinkRecord& record_;
  serial::Port* inner_ = nullptr;
};

// The terminal's warning for a latency timer that stays above kLatencyWarnAboveMs, with how to
// lower it on this system; empty when there is nothing to warn of.
std::string latency_warning(const char* port, const LinkSetup& setup);

// The end of that warning: how to lower the latency timer of the adapter behind `port` on this
// system (link_posix.cpp, link_win32.cpp). What each system reads of its adapters is in
// link_posix.h and link_win32.h.
std::string latency_advice(const char* port);

}  // namespace cli
