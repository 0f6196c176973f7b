#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "platform/base/heap_buffer.hpp"
#include "unix/copy.h"
#include "unix/full_transfer.h"

namespace {

constexpr size_t kBufferSize = 65536;

struct Fill {
  int error;          // 0, or the errno of a failed read
  size_t length;      // bytes gathered
  bool endOfInput;
};

// Reads until the buffer is full or the input ends, so that write is handed
// whole buffers.
Fill FillBuffer(int source, unsigned char *buffer, size_t size) {
  Fill fill = {0, 0, false};
  while (fill.length < size) {
    errno = 0;
    ssize_t n = ::read(source, buffer + fill.length, size - fill.length);
    if (n > 0) {
      fill.length += static_cast<size_t>(n);
    } else if (n == 0) {
      fill.endOfInput = true;
      break;
    } else if (errno != EINTR && errno != 0) {
      fill.error = errno;
      break;
    }
  }
  return fill;
}

}  // namespace

extern "C" int TolvanUNIXCopyDescriptorToDescriptor(int source, int destination) {
  tolvan::HeapBuffer buffer = tolvan::HeapBuffer::Allocate(kBufferSize);
  if (!buffer) return ENOMEM;
  for (;;) {
    Fill fill = FillBuffer(source, buffer.data(), kBufferSize);
    if (fill.error != 0) return fill.error;
    int error = TolvanUNIXWrite(destination, buffer.data(), fill.length, nullptr);
    if (error != 0) return error;
    if (fill.endOfInput) return 0;
  }
}
