#include "platform/auth/bounded_read.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "unix/unique_fd.hpp"

namespace tolvan::auth {

bool ReadToEndBounded(int fd, char *buffer, size_t capacity, size_t *length) noexcept {
  size_t filled = 0;
  for (;;) {
    // One spare byte tells a file that exactly fits from one that is longer.
    char spare;
    char *target = filled < capacity ? buffer + filled : &spare;
    size_t room = filled < capacity ? capacity - filled : 1;
    ssize_t got = ::read(fd, target, room);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) break;
    if (filled >= capacity) return false;
    filled += static_cast<size_t>(got);
  }
  *length = filled;
  return true;
}

bool ReadFileBounded(int dirFd, const char *name, char *buffer, size_t capacity,
                     size_t *length) noexcept {
  UniqueFd fd(::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
  if (!fd) return false;
  return ReadToEndBounded(fd.get(), buffer, capacity, length);
}

}  // namespace tolvan::auth
