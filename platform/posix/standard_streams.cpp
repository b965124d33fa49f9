#include "platform/posix/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

bool OpenClosedStandardStreams() {
  int null_fd = -1;
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // Opened without O_CLOEXEC: it stands in for a standard stream, which a
    // program started from here inherits too. The first one opened takes
    // the lowest free descriptor, which is this one.
    if (null_fd < 0) {
      null_fd = ::open("/dev/null", O_RDWR);
      if (null_fd < 0) return false;
    }
    if (null_fd != fd && ::dup2(null_fd, fd) != fd) return false;
  }
  if (null_fd > 2) ::close(null_fd);
  return true;
}
