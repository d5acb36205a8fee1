// Appending on POSIX systems: O_APPEND moves to the end of the file atomically with each write,
// so processes appending to the same file never overwrite each other's lines. A write to a
// regular file is not promised to be whole, though (a signal or a full disk can cut it short),
// so the write also holds an exclusive lock on the file: updaters in other processes and on other
// threads (each with its own open file) take their turn, and a reader that locks sees whole lines.
// If the lock cannot be had the line is still appended, as it would be without it.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include "update/file_append.h"

namespace update {

namespace {
constexpr mode_t kNewFileMode = 0666;  // narrowed by the process's umask
}

bool append_file(const char* name, const char* data, std::size_t n) {
  int fd = ::open(name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kNewFileMode);
  if (fd < 0) return false;
  int locked;
  do {
    locked = ::flock(fd, LOCK_EX);
  } while (locked != 0 && errno == EINTR);
  ssize_t ignored = ::write(fd, data, n);  // a lost line is not reported
  (void)ignored;
  ::close(fd);  // also releases the lock
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
