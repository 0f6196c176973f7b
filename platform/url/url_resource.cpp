// URLs and the file system: references, and reading a file's whole content.
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/cf/cf_ref.hpp"
#include "platform/url/url_object.hpp"
#include "platform/url/url_resource.hpp"
#include "unix/unique_fd.hpp"

namespace tolvan::url {
namespace {

// More than a data file should ever be; anything bigger is refused rather
// than read into memory.
constexpr size_t kMaxResourceBytes = size_t{64} << 20;

struct ReadResult {
  UInt8 *bytes = nullptr;
  size_t length = 0;
  int error = 0;
};

// Reads to the end of the file, growing past the size fstat gave when the
// file grew meanwhile, but never past the limit.
ReadResult ReadToEnd(int fd, size_t expected, size_t maxBytes, CFAllocatorRef allocator) {
  ReadResult result;
  size_t capacity = expected + 1;  // one more, to see the end
  result.bytes = static_cast<UInt8 *>(cf::Allocate(allocator, capacity));
  if (result.bytes == nullptr) return {nullptr, 0, ENOMEM};
  for (;;) {
    if (result.length == capacity) {
      if (capacity > maxBytes) {
        result.error = EFBIG;
        return result;
      }
      size_t grown = capacity * 2 > maxBytes + 1 ? maxBytes + 1 : capacity * 2;
      void *moved = cf::Reallocate(allocator, result.bytes, capacity, grown);
      if (moved == nullptr) {
        result.error = ENOMEM;
        return result;
      }
      result.bytes = static_cast<UInt8 *>(moved);
      capacity = grown;
    }
    ssize_t got = ::read(fd, result.bytes + result.length, capacity - result.length);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      result.error = errno;
      return result;
    }
    if (got == 0) return result;
    result.length += static_cast<size_t>(got);
  }
}

}  // namespace

// A final symbolic link is followed, as for any data file a user names.
int ReadResource(const char *path, CFAllocatorRef allocator, size_t maxBytes, CFDataRef *data) {
  // O_NONBLOCK so that a FIFO put there cannot hang the caller; it is
  // refused below like every other non-regular file.
  UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd) return errno;
  struct stat status;
  if (::fstat(fd.get(), &status) != 0) return errno;
  if (S_ISDIR(status.st_mode)) return EISDIR;
  if (!S_ISREG(status.st_mode)) return EINVAL;
  if (static_cast<uint64_t>(status.st_size) > maxBytes) return EFBIG;
  CFAllocatorRef resolved = cf::ResolveAllocator(allocator);
  ReadResult read = ReadToEnd(fd.get(), static_cast<size_t>(status.st_size), maxBytes, resolved);
  if (read.error != 0) {
    cf::Deallocate(resolved, read.bytes);
    return read.error;
  }
  *data = CFDataCreateWithBytesNoCopy(allocator, read.bytes, static_cast<CFIndex>(read.length),
                                      resolved);
  if (*data == nullptr) {
    cf::Deallocate(resolved, read.bytes);
    return ENOMEM;
  }
  return 0;
}

}  // namespace tolvan::url

using namespace tolvan::url;

CFURLRef CFURLCreateFromFSRef(CFAllocatorRef allocator, const FSRef *fsRef) {
  if (fsRef == nullptr) return nullptr;
  size_t length = strnlen(fsRef->path, sizeof fsRef->path);
  if (length == 0 || length == sizeof fsRef->path || fsRef->path[0] != '/') return nullptr;
  struct stat status;
  if (::lstat(fsRef->path, &status) != 0) return nullptr;
  return CreateResolvedURL(allocator, fsRef->path, length, 0, S_ISDIR(status.st_mode));
}

Boolean CFURLGetFSRef(CFURLRef url, FSRef *fsRef) {
  const TolvanCFURL *object = CheckedURL(url, "CFURLGetFSRef");
  if (fsRef == nullptr) return false;
  return FSPathMakeRef(reinterpret_cast<const UInt8 *>(object->resolved), fsRef, nullptr) == noErr;
}

Boolean CFURLCreateDataAndPropertiesFromResource(CFAllocatorRef allocator, CFURLRef url,
                                                 CFDataRef *resourceData,
                                                 CFDictionaryRef *properties,
                                                 CFArrayRef desiredProperties, SInt32 *errorCode) {
  int error = EINVAL;
  if (resourceData != nullptr) *resourceData = nullptr;
  if (url != nullptr && resourceData != nullptr && properties == nullptr &&
      desiredProperties == nullptr) {
    const TolvanCFURL *object = CheckedURL(url, "CFURLCreateDataAndPropertiesFromResource");
    error = ReadResource(object->resolved, allocator, kMaxResourceBytes, resourceData);
  }
  if (errorCode != nullptr) *errorCode = error;
  return error == 0;
}
