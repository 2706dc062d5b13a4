#include "platform/standard_descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kav {

bool OpenClosedStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
      continue;
    }
    // The lowest free number is `fd` itself, as every lower one is open by now. Read and
    // write, so that neither reading stdin nor writing stdout fails.
    const int opened = open("/dev/null", O_RDWR);
    if (opened != fd) {
      if (opened >= 0) {
        close(opened);
      }
      return false;
    }
  }
  return true;
}

}  // namespace kav
