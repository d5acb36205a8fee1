// Appending on POSIX systems: O_APPEND moves to the end of the file atomically with each write,
// so processes appending to the same file never overwrite each other's lines. A write to a
// regular file is not promised to be whole, though (a signal or a full disk can cut it short),
// so the write also holds an exclusive lock on the file: updaters in other processes and on other
// threads (each with its own open file) take their turn, a short write is finished under the
// lock, and a reader that locks sees whole lines. If the lock cannot be had the line is still
// appended, as it would be without it.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

#include "update/file_append.h"

namespace update {

namespace {

constexpr mode_t kNewFileMode = 0666;  // narrowed by the process's umask

void reason_words(int error, char* why, std::size_t cap) {
  if (cap == 0) return;
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      std::snprintf(why, cap, "its folder does not exist");
      return;
    case EISDIR:
      std::snprintf(why, cap, "it is a folder");
      return;
    case EACCES:
    case EPERM:
      std::snprintf(why, cap, "no permission to write it");
      return;
    case EROFS:
      std::snprintf(why, cap, "the file system is read-only");
      return;
    case ENOSPC:
    case EDQUOT:
      std::snprintf(why, cap, "the disk is full");
      return;
    default: {
      char text[128];
      // The GNU strerror_r returns its text, which need not be the buffer.
      const char* t = strerror_r(error, text, sizeof text);
      std::snprintf(why, cap, "%s", t);
      return;
    }
  }
}

int open_for_append(const char* name) {
  int fd;
  do {
    fd = ::open(name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kNewFileMode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// One attempt: 0 when the whole line is in the file, else the error; `partial` when part of the
// line went in, which a second attempt would only repeat.
int append_attempt(const char* name, const char* data, std::size_t n, bool durable, bool& partial) {
  const int fd = open_for_append(name);
  if (fd < 0) return errno;
  int locked;
  do {
    locked = ::flock(fd, LOCK_EX);
  } while (locked != 0 && errno == EINTR);
  int error = 0;
  while (n > 0) {
    const ssize_t w = ::write(fd, data, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    if (w == 0) {
      error = ENOSPC;
      break;
    }
    partial = true;
    data += w;
    n -= static_cast<std::size_t>(w);
  }
  if (n == 0) partial = false;
  if (error == 0 && durable && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0 && errno != EINTR) error = errno;  // also releases the lock
  return error;
}

}  // namespace

namespace platform_append {

long append_once(const char* name, const char* data, std::size_t n, bool durable, bool& partial) {
  return append_attempt(name, data, n, durable, partial);
}

void reason_text(long error, char* why, std::size_t cap) { reason_words(static_cast<int>(error), why, cap); }

void pause_ms(int ms) {
  timespec t{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  while (::nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

}  // namespace platform_append

bool can_append(const char* name, char* why, std::size_t why_cap) {
  const int fd = open_for_append(name);
  if (fd < 0) {
    reason_words(errno, why, why_cap);
    return false;
  }
  ::close(fd);
  return true;
}

LocalTime local_time_now() {
  time_t now = ::time(nullptr);
  struct tm tm_local {};
  ::localtime_r(&now, &tm_local);
  return LocalTime{tm_local.tm_year + 1900, tm_local.tm_mon + 1, tm_local.tm_mday,
                   tm_local.tm_hour,        tm_local.tm_min,     tm_local.tm_sec};
}

}  // namespace update
