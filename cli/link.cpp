#include "cli/link.h"

#include <cstdio>

namespace cli {

std::string latency_warning(const char* port, const LinkSetup& setup) {
  if (setup.latency_timer_ms <= kLatencyWarnAboveMs) return "";
  char text[512];
  std::snprintf(text, sizeof text,
                "%s: warning: the USB serial adapter's latency timer is %d ms, and every block waits up to that "
                "long for its verdict; %s",
                port, static_cast<int>(setup.latency_timer_ms), latency_advice(port).c_str());
  return text;
}

void Turnarounds::add(std::chrono::microseconds wait) {
  const std::int64_t us = wait.count() < 0 ? 0 : wait.count();
  std::size_t step = static_cast<std::size_t>(us / kStepUs);
  if (step >= kSteps) step = kSteps - 1;
  ++steps_[step];
  ++count_;
  if (us > max_us_) max_us_ = us;
}

double Turnarounds::percentile_ms(double p) const {
  if (count_ == 0) return 0;
  // Nearest rank: the smallest wait that at least p per cent of the waits do not exceed.
  std::uint64_t rank = static_cast<std::uint64_t>(p / 100.0 * count_ + 0.999999);
  if (rank < 1) rank = 1;
  if (rank > count_) rank = count_;
  std::uint64_t seen = 0;
  for (std::size_t i = 0; i < kSteps; ++i) {
    seen += steps_[i];
    if (seen >= rank) {
      const std::int64_t edge_us = static_cast<std::int64_t>(i + 1) * kStepUs;
      return static_cast<double>(edge_us < max_us_ ? edge_us : max_us_) / 1000.0;
    }
  }
  return max_ms();
}

void LinkRecord::block_answered(bool retry) {
  if (retry) ++retries;
  if (!written) return;
  turnarounds.add(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - last_write));
}

bool WatchedPort::read(void* dst, std::uint32_t want, std::uint32_t& got) { return inner_->read(dst, want, got); }

bool WatchedPort::write(const void* src, std::uint32_t n, std::uint32_t& written) {
  const bool ok = inner_->write(src, n, written);
  record_.last_write = std::chrono::steady_clock::now();
  record_.written = true;
  return ok;
}

std::uint32_t WatchedPort::queued() { return inner_->queued(); }

void WatchedPort::close() { inner_->close(); }

}  // namespace cli
