// termios2 lives in the kernel's own headers, which clash with <termios.h>;
// this file therefore includes nothing of the C library's terminal API.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdint>

#include "sys/Tty.h"

namespace ylvane::sys {

int TtySetLine(int fd, uint32_t baud, bool twoStopBits) {
  termios2 t{};
  t.c_iflag = IGNBRK;  // no translation, no parity marks, no XON/XOFF
  t.c_oflag = 0;
  t.c_lflag = 0;
  t.c_cflag = CS8 | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT) | (twoStopBits ? CSTOPB : 0);
  t.c_ispeed = baud;
  t.c_ospeed = baud;
  // One byte satisfies a read; with O_NONBLOCK an empty read answers EAGAIN,
  // so a read of 0 bytes means the device hung up.
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  return ioctl(fd, TCSETS2, &t) == 0 ? 0 : errno;
}

int TtySetSpeed(int fd, uint32_t baud) {
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = baud;
  t.c_ospeed = baud;
  return ioctl(fd, TCSETS2, &t) == 0 ? 0 : errno;
}

int TtyGetSpeed(int fd, uint32_t* baud) {
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  *baud = t.c_ospeed;
  return 0;
}

}  // namespace ylvane::sys
