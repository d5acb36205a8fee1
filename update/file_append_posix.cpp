// Appending on POSIX systems: O_APPEND moves to the end of the file atomically with each write,
// so processes appending to the same file never overwrite each other's lines.
#include <fcntl.h>
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
  ssize_t ignored = ::write(fd, data, n);  // a lost line is not reported
  (void)ignored;
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
