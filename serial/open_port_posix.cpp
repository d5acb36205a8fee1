// Opening a port on Linux: the device named by the operator (a path such as /dev/ttyUSB0), held
// exclusively, raw, at one of the speeds of the speed table with 8 data bits, no parity and one
// stop bit. Hardware flow control and XON/XOFF on receiving stay as the port had them; XON/XOFF
// on sending is switched off, since the image is binary and holds those bytes.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "serial/port_posix.h"

#include "package/protocol_constants.h"

namespace serial {

namespace {

// The terminal's code for each speed of the speed table, in table order. Only those speeds can be
// chosen; anything else is refused rather than rounded to a neighbour: a wrong speed on the line
// would only show up as a silent printer.
constexpr speed_t kSpeedCodes[] = {B9600, B19200, B38400, B57600, B115200};
static_assert(std::size(kSpeedCodes) == package::kSpeedCount, "one code per speed of the table");

bool speed_code(std::uint32_t speed, speed_t& code) {
  for (std::size_t i = 0; i < package::kSpeedCount; ++i) {
    if (package::kSpeeds[i] == speed) {
      code = kSpeedCodes[i];
      return true;
    }
  }
  return false;
}

// The line settings the updater needs, applied to what the port reported: like cfmakeraw, but
// flow control on receiving (IXOFF, CRTSCTS) is left alone.
void make_line_settings(termios& t, speed_t code) {
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  // Reads return at once with what is there; the port's own poll() deadlines do the waiting.
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, code);
  cfsetospeed(&t, code);
}

// tcsetattr succeeds when any one of the changes took; only reading the settings back shows
// whether the line really runs as asked.
bool line_settings_took(const termios& t, speed_t code) {
  return cfgetispeed(&t) == code && cfgetospeed(&t) == code && (t.c_cflag & CSIZE) == CS8 &&
         (t.c_cflag & (PARENB | CSTOPB)) == 0 && (t.c_iflag & IXON) == 0 &&
         (t.c_oflag & OPOST) == 0 && (t.c_lflag & ICANON) == 0;
}

// Closes the descriptor and leaves errno telling why the port was refused, for a caller that
// reports the reason.
int refuse(int fd, int reason) {
  ::close(fd);
  errno = reason;
  return -1;
}

int refuse(int fd) { return refuse(fd, errno); }

}  // namespace

int open_port(const char* name, std::uint32_t speed) {
  speed_t code{};
  if (name == nullptr || !speed_code(speed, code)) {
    errno = EINVAL;
    return -1;
  }

  // Non-blocking: neither the open (which could wait for carrier) nor a later write may block
  // past the port's deadlines. No controlling terminal: the printer must not be able to send
  // this program signals.
  const int fd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;  // missing, or held with TIOCEXCL by another program (EBUSY)

  // Held exclusively, as on Windows. TIOCEXCL keeps later opens out (except a privileged
  // one's), and the lock is the convention other serial programs honour; a port that another
  // program has locked is refused.
  if (!::isatty(fd)) return refuse(fd, ENOTTY);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return refuse(fd);
  if (::ioctl(fd, TIOCEXCL) != 0) return refuse(fd);

  termios t{};
  if (::tcgetattr(fd, &t) != 0) return refuse(fd);
  make_line_settings(t, code);
  if (::tcsetattr(fd, TCSANOW, &t) != 0) return refuse(fd);
  termios back{};
  if (::tcgetattr(fd, &back) != 0) return refuse(fd);
  if (!line_settings_took(back, code)) return refuse(fd, EINVAL);
  return fd;
}

}  // namespace serial
