#include "tools/printer/clock.h"

#include <signal.h>
#include <time.h>

#include <cerrno>

namespace printer {
namespace {

volatile sig_atomic_t g_stop = 0;

}  // namespace

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

void request_stop() { g_stop = 1; }
bool stop_requested() { return g_stop != 0; }

}  // namespace printer
