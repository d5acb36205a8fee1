#include "tools/printer/line.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace printer {
namespace {

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

}  // namespace

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

bool open_device(Line& l, const std::string& path, std::uint32_t baud) {
  l.fd = open(path.c_str(), O_RDWR | O_NOCTTY);
  return l.fd >= 0 && make_raw(l.fd, baud);
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

}  // namespace printer
