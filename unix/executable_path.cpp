#include "unix/executable_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/base/heap_buffer.hpp"

namespace {

constexpr const char kSelfExecutable[] = "/proc/self/exe";
// The kernel renders the link into one page; a longer name cannot come back.
constexpr size_t kLinkBufferLimit = 65536;
constexpr std::string_view kDeletedSuffix = " (deleted)";

struct Link {
  int error;  // 0, -1 or an errno value
  tolvan::HeapBuffer text;
  size_t length;
};

Link ReadSelfLink() {
  for (size_t size = 4096; size <= kLinkBufferLimit; size *= 2) {
    tolvan::HeapBuffer buffer = tolvan::HeapBuffer::Allocate(size);
    if (!buffer) return {ENOMEM, {}, 0};
    ssize_t n = ::readlink(kSelfExecutable, reinterpret_cast<char *>(buffer.data()), size);
    if (n < 0) return {errno, {}, 0};
    if (static_cast<size_t>(n) < size) return {0, std::move(buffer), static_cast<size_t>(n)};
  }
  return {-1, {}, 0};
}

// A running executable whose file was removed (or replaced by a rename) has
// no name any more; the link text then names some other file, or none.
bool ExecutableStillNamed(std::string_view path) {
  if (path.size() >= kDeletedSuffix.size() &&
      path.substr(path.size() - kDeletedSuffix.size()) == kDeletedSuffix) {
    return false;
  }
  struct stat status;
  return ::stat(kSelfExecutable, &status) == 0 && status.st_nlink > 0;
}

}  // namespace

extern "C" int TolvanGetExecutablePath(char *buffer, uint32_t *bufferSize) {
  if (bufferSize == nullptr || (buffer == nullptr && *bufferSize != 0)) return EINVAL;
  Link link = ReadSelfLink();
  if (link.error != 0) return link.error;
  std::string_view path(reinterpret_cast<const char *>(link.text.data()), link.length);
  if (path.empty() || path.front() != '/' || !ExecutableStillNamed(path)) return -1;

  uint32_t needed = static_cast<uint32_t>(path.size() + 1);
  if (needed > *bufferSize) {
    *bufferSize = needed;
    return -1;
  }
  std::memcpy(buffer, path.data(), path.size());
  buffer[path.size()] = '\0';
  *bufferSize = needed;
  return 0;
}
