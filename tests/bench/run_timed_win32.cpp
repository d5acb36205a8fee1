// The update run of zorven-timed.exe: the dialog of zorven.exe, with the port, the host and the
// run observer wrapped in timers. The wrappers pass every call through unchanged and only
// take the time around it, so the run does on the wire what zorven.exe does. Each block's pass
// is cut into its steps by the calls it makes, in their fixed order:
//
//   drain        pass start (end of the last pass) .. block write begins: status query and reads
//   block write  the block's write request
//   crc          block write ends .. the second status query begins (the CRC computation)
//   drain 2      second status query .. CRC write begins
//   crc write    the CRC's write request
//   line read    CRC write ends .. pump begins: the verdict read byte by byte
//   pump         the pump of one window message
//   progress     pump ends .. progress bar set
//
// The steps cover the pass without a gap. At the end of every run the distribution of each step
// over the passes goes to zorven-timed.txt in the working directory (appended).
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "ui/run_win32.h"
#include "update/run.h"

namespace ui {

namespace {

enum Step { kDrain, kBlockWrite, kCrc, kDrain2, kCrcWrite, kLineRead, kPump, kProgress, kPass, kStepCount };
constexpr const char* kStepNames[kStepCount] = {"drain",     "block write", "crc",      "drain 2", "crc write",
                                                "line read", "pump",        "progress", "whole pass"};
constexpr std::size_t kMaxPasses = 8192;
constexpr char kOutput[] = "zorven-timed.txt";

std::int64_t ticks() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return t.QuadPart;
}

// The passes of one run: the time of each step, and the read requests of each verdict.
class Recorder {
 public:
  void reset() {
    passes_ = 0;
    dropped_ = 0;
    start_new_pass(ticks());
  }

  // A log line marks the end of the announce (and every other phase change): the next pass starts
  // after it.
  void phase_change(std::int64_t now) { start_new_pass(now); }

  void status_query(std::int64_t begin) {
    if (writes_ == 1 && !mark_[kCrc]) {
      mark(kCrc, begin);  // block write end .. here
      mark_[kCrc] = true;
    }
  }
  void write(std::int64_t begin, std::int64_t end) {
    if (writes_ == 0) {
      mark(kDrain, begin);
      at_ = end;
      add(kBlockWrite, end - begin);
    } else if (writes_ == 1) {
      if (!mark_[kCrc]) mark(kCrc, begin);
      mark(kDrain2, begin);
      at_ = end;
      add(kCrcWrite, end - begin);
    }
    ++writes_;
  }
  void read(bool got_byte) {
    if (writes_ >= 2) {
      ++reads_;
      if (!got_byte) ++idle_reads_;
    }
  }
  void pump(std::int64_t begin, std::int64_t end) {
    mark(kLineRead, begin);
    at_ = end;
    add(kPump, end - begin);
  }
  void progress(std::int64_t end) {
    mark(kProgress, end);
    add(kPass, end - pass_start_);
    if (writes_ == 2) {
      if (passes_ < kMaxPasses) {
        for (int s = 0; s < kStepCount; ++s) samples_[s][passes_] = step_[s];
        read_counts_[passes_] = reads_;
        idle_counts_[passes_] = idle_reads_;
        ++passes_;
      } else {
        ++dropped_;
      }
    }
    start_new_pass(end);
  }

  void write_report(std::int64_t frequency) {
    std::FILE* f = std::fopen(kOutput, "a");
    if (f == nullptr) return;
    std::fprintf(f, "run: %zu passes (%zu not kept); microseconds per pass\n", passes_, dropped_);
    for (int s = 0; s < kStepCount; ++s) {
      std::int64_t* v = samples_[s];
      std::sort(v, v + passes_);
      double sum = 0;
      for (std::size_t i = 0; i < passes_; ++i) sum += static_cast<double>(v[i]);
      auto us = [&](double t) { return t * 1e6 / static_cast<double>(frequency); };
      std::fprintf(f, "step %-12s median %9.1f p90 %9.1f p99 %9.1f max %9.1f sum %10.1f ms\n", kStepNames[s],
                   us(static_cast<double>(at(v, 50))), us(static_cast<double>(at(v, 90))),
                   us(static_cast<double>(at(v, 99))), passes_ ? us(static_cast<double>(v[passes_ - 1])) : 0.0,
                   us(sum) / 1000.0);
    }
    std::uint64_t reads = 0, idle = 0;
    for (std::size_t i = 0; i < passes_; ++i) {
      reads += read_counts_[i];
      idle += idle_counts_[i];
    }
    std::fprintf(f, "line read: %llu read requests over %zu verdicts (%llu brought nothing)\n",
                 static_cast<unsigned long long>(reads), passes_, static_cast<unsigned long long>(idle));
    std::fclose(f);
  }

 private:
  std::int64_t at(const std::int64_t* sorted, int pct) const {
    if (passes_ == 0) return 0;
    const std::size_t rank = (passes_ * static_cast<std::size_t>(pct) + 99) / 100;
    return sorted[rank == 0 ? 0 : rank - 1];
  }
  void start_new_pass(std::int64_t now) {
    pass_start_ = at_ = now;
    writes_ = 0;
    reads_ = idle_reads_ = 0;
    for (auto& s : step_) s = 0;
    for (auto& m : mark_) m = false;
  }
  // The step ends at `t`: it ran from the last boundary to here.
  void mark(Step s, std::int64_t t) {
    add(s, t - at_);
    at_ = t;
  }
  void add(Step s, std::int64_t d) { step_[s] += d; }

  std::int64_t pass_start_ = 0, at_ = 0;
  int writes_ = 0;
  std::uint32_t reads_ = 0, idle_reads_ = 0;
  std::int64_t step_[kStepCount] = {};
  bool mark_[kStepCount] = {};
  std::int64_t samples_[kStepCount][kMaxPasses] = {};
  std::uint32_t read_counts_[kMaxPasses] = {};
  std::uint32_t idle_counts_[kMaxPasses] = {};
  std::size_t passes_ = 0, dropped_ = 0;
};

Recorder g_rec;

class TimedPort final : public serial::Port {
 public:
  void wrap(serial::Port* inner) { inner_ = inner; }
  bool read(void* dst, std::uint32_t want, std::uint32_t& got) override {
    const bool ok = inner_->read(dst, want, got);
    g_rec.read(got != 0);
    return ok;
  }
  bool write(const void* src, std::uint32_t n, std::uint32_t& written) override {
    const std::int64_t begin = ticks();
    const bool ok = inner_->write(src, n, written);
    g_rec.write(begin, ticks());
    return ok;
  }
  std::uint32_t queued() override {
    g_rec.status_query(ticks());
    return inner_->queued();
  }
  void close() override { inner_->close(); }

 private:
  serial::Port* inner_ = nullptr;
};

class TimedHost final : public serial::Host {
 public:
  explicit TimedHost(serial::Host& inner) : inner_(inner) {}
  std::int64_t now_seconds() override { return inner_.now_seconds(); }
  void pump_one() override {
    const std::int64_t begin = ticks();
    inner_.pump_one();
    g_rec.pump(begin, ticks());
  }

 private:
  serial::Host& inner_;
};

class TimedPlatform final : public update::Platform {
 public:
  explicit TimedPlatform(update::Platform& inner) : inner_(inner), host_(inner.host()) {}
  serial::Port* open_port(const char* name, std::uint32_t speed) override {
    serial::Port* p = inner_.open_port(name, speed);
    if (p == nullptr) return nullptr;
    port_.wrap(p);
    return &port_;
  }
  serial::Host& host() override { return host_; }
  update::LocalTime local_time() override { return inner_.local_time(); }
  bool append_file(const char* file_name, const char* data, std::size_t n, char* why, std::size_t why_cap) override {
    return inner_.append_file(file_name, data, n, why, why_cap);
  }

 private:
  update::Platform& inner_;
  TimedHost host_;
  TimedPort port_;
};

class TimedObserver final : public update::RunObserver {
 public:
  explicit TimedObserver(update::RunObserver& inner) : inner_(inner) {}
  void log_line(const char* text) override {
    inner_.log_line(text);
    g_rec.phase_change(ticks());
  }
  void progress(std::uint32_t position, std::uint32_t bytes_acknowledged) override {
    inner_.progress(position, bytes_acknowledged);
    g_rec.progress(ticks());
  }
  void after_query() override { inner_.after_query(); }
  void before_transfer() override { inner_.before_transfer(); }
  void printer_turning_off() override { inner_.printer_turning_off(); }

 private:
  update::RunObserver& inner_;
};

}  // namespace

update::RunResult run_update_from_dialog(const update::RunRequest& request, update::RunObserver& observer,
                                         update::Platform& platform, update::RunState& state,
                                         const package::Record& pkg) {
  TimedObserver timed_observer(observer);
  TimedPlatform timed_platform(platform);
  g_rec.reset();
  const update::RunResult result = update::run_update(request, timed_observer, timed_platform, state, pkg);
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  g_rec.write_report(frequency.QuadPart);
  return result;
}

}  // namespace ui
