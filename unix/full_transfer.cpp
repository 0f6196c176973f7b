#include "unix/full_transfer.h"

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace {

// The loop both directions share. Transfer is read or write, with the
// buffer position already applied.
template <typename Byte, typename Transfer>
int TransferAll(Byte *buffer, size_t count, size_t *transferred, Transfer transfer) {
  size_t remaining = count;
  int result = 0;
  while (remaining > 0) {
    errno = 0;
    ssize_t n = transfer(buffer + (count - remaining), remaining);
    if (n > 0) {
      remaining -= static_cast<size_t>(n);
    } else if (n == 0) {
      // End of input, or a write that took nothing: the peer is not going
      // to complete this block.
      result = EPIPE;
      break;
    } else if (errno != EINTR && errno != 0) {
      result = errno;
      break;
    }
  }
  if (transferred != nullptr) *transferred = count - remaining;
  return result;
}

}  // namespace

extern "C" int TolvanUNIXRead(int fd, void *buffer, size_t count, size_t *bytesRead) {
  return TransferAll(static_cast<unsigned char *>(buffer), count, bytesRead,
                     [fd](unsigned char *at, size_t n) { return ::read(fd, at, n); });
}

extern "C" int TolvanUNIXWrite(int fd, const void *buffer, size_t count, size_t *bytesWritten) {
  return TransferAll(static_cast<const unsigned char *>(buffer), count, bytesWritten,
                     [fd](const unsigned char *at, size_t n) { return ::write(fd, at, n); });
}
