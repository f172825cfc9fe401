#include "sys/Net.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace ylvane::sys {

int NetStartup() {
  // There is no socket library to start on Linux; what can fail is getting
  // a socket at all (no descriptors left, no IPv4 stack), so try one.
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) return errno;
  close(s);
  return 0;
}

}  // namespace ylvane::sys
