// The Linux port. Windows ends a read request when all bytes asked for arrived, when more than
// the interval passes after a received byte, or when the total limit passes after the request
// began; a write request ends short when its limit passes. The same rules are kept here with
// poll() against deadlines on the monotonic clock, so the timed operations above behave alike
// on both platforms. Interrupted calls are retried against the same deadlines.
#include "serial/port_posix.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace serial {

namespace {

using Millis = std::int64_t;

Millis now_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<Millis>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

// Waits until fd is ready for `events` or `until` passes. Returns the poll revents, 0 when the
// deadline passed, -1 on a failure of poll itself.
int wait_ready(int fd, short events, Millis until) {
  for (;;) {
    const Millis left = until - now_ms();
    if (left <= 0) return 0;
    pollfd p{fd, events, 0};
    const int r = ::poll(&p, 1, static_cast<int>(left));
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) continue;  // the loop head decides whether the deadline really passed
    return p.revents;
  }
}

}  // namespace

bool PosixPort::read(void* dst, std::uint32_t want, std::uint32_t& got) {
  got = 0;
  if (fd_ < 0) return false;
  auto* out = static_cast<std::uint8_t*>(dst);
  const Millis total_deadline = now_ms() + kReadTotalMs;
  Millis interval_deadline = total_deadline;

  while (got < want) {
    const Millis until = interval_deadline < total_deadline ? interval_deadline : total_deadline;
    const int ready = wait_ready(fd_, POLLIN, until);
    if (ready < 0) return false;
    if (ready == 0) return true;  // a time-out ends the request with what arrived
    if ((ready & POLLIN) == 0) {
      // Hang-up or error without data: the device is gone, as a failed ReadFile reports it.
      return false;
    }
    const ssize_t r = ::read(fd_, out + got, want - got);
    if (r < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return false;
    }
    if (r == 0) {
      // Readable but no data: the far end hung up. Report the bytes already here; a request
      // that got nothing fails.
      return got > 0;
    }
    got += static_cast<std::uint32_t>(r);
    // The interval starts again with every received byte.
    interval_deadline = now_ms() + kReadIntervalMs;
  }
  return true;
}

bool PosixPort::write(const void* src, std::uint32_t n, std::uint32_t& written) {
  written = 0;
  if (fd_ < 0) return false;
  const auto* in = static_cast<const std::uint8_t*>(src);
  const Millis deadline = now_ms() + kWriteTotalMs;

  while (written < n) {
    const ssize_t r = ::write(fd_, in + written, n - written);
    if (r > 0) {
      written += static_cast<std::uint32_t>(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    // The output buffer is full: wait for room until the write limit, then end short.
    const int ready = wait_ready(fd_, POLLOUT, deadline);
    if (ready < 0) return false;
    if (ready == 0) return true;
    if ((ready & POLLOUT) == 0) return false;
  }
  return true;
}

std::uint32_t PosixPort::queued() {
  int waiting = 0;
  if (fd_ < 0 || ::ioctl(fd_, FIONREAD, &waiting) != 0 || waiting < 0) return 0;
  return static_cast<std::uint32_t>(waiting);
}

void PosixPort::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace serial
