#include "config/StandardStreams.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace meridane {

void OpenClosedStandardStreams() {
#ifndef _WIN32
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (::fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number comes back, this one, as the lower ones are open
    // by now. Without O_CLOEXEC: a program this one starts finds it open too.
    ::open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY);
  }
#endif
}

}  // namespace meridane
