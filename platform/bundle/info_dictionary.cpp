#include "platform/bundle/info_dictionary.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>

#include <cstdio>

#include "platform/auth/bounded_read.hpp"
#include "platform/base/heap_buffer.hpp"
#include "platform/cf/cf_property_list.h"
#include "platform/cf/cf_ref.hpp"
#include "unix/unique_fd.hpp"

namespace tolvan::bundle {
namespace {

enum class Outcome { kRead, kAbsent, kOutOfMemory };

CFDictionaryRef CreateEmptyDictionary(CFAllocatorRef allocator) {
  return CFDictionaryCreate(allocator, nullptr, nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                            &kCFTypeDictionaryValueCallBacks);
}

// O_NONBLOCK: a FIFO planted under the name must not hang the open; the
// regular-file check refuses it afterwards.
UniqueFd OpenInfoPlist(const char *folderPath) {
  char path[PATH_MAX];
  int length = std::snprintf(path, sizeof path, "%s/Info.plist", folderPath);
  if (length < 0 || static_cast<size_t>(length) >= sizeof path) return UniqueFd();
  return UniqueFd(::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
}

Outcome ReadFile(int fd, HeapBuffer *content, size_t *length) {
  struct stat status;
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return Outcome::kAbsent;
  if (static_cast<unsigned long long>(status.st_size) > kMaxInfoPlistSize) return Outcome::kAbsent;
  *content = HeapBuffer::Allocate(static_cast<size_t>(status.st_size));
  if (!*content) return Outcome::kOutOfMemory;
  // A file that grew since the fstat no longer fits and counts as unreadable.
  if (!auth::ReadToEndBounded(fd, reinterpret_cast<char *>(content->data()), content->size(),
                              length)) {
    return Outcome::kAbsent;
  }
  return Outcome::kRead;
}

Outcome Parse(CFAllocatorRef allocator, const HeapBuffer &content, size_t length,
              CFRef<CFDictionaryRef> *dictionary) {
  auto data = CFRef<CFDataRef>::Adopt(CFDataCreateWithBytesNoCopy(
      allocator, content.data(), static_cast<CFIndex>(length), kCFAllocatorNull));
  if (!data) return Outcome::kOutOfMemory;
  CFRef<CFStringRef> error;
  auto list = CFRef<CFPropertyListRef>::Adopt(CFPropertyListCreateFromXMLData(
      allocator, data.get(), kCFPropertyListImmutable, error.out()));
  if (!list) {
    return TolvanPropertyListErrorIsOutOfMemory(error.get()) ? Outcome::kOutOfMemory
                                                             : Outcome::kAbsent;
  }
  if (CFGetTypeID(list.get()) != CFDictionaryGetTypeID()) return Outcome::kAbsent;
  dictionary->reset(static_cast<CFDictionaryRef>(list.release()));
  return Outcome::kRead;
}

Outcome ReadInfoPlist(CFAllocatorRef allocator, const char *folderPath,
                      CFRef<CFDictionaryRef> *dictionary) {
  UniqueFd fd = OpenInfoPlist(folderPath);
  if (!fd) return Outcome::kAbsent;
  HeapBuffer content;
  size_t length = 0;
  Outcome read = ReadFile(fd.get(), &content, &length);
  if (read != Outcome::kRead) return read;
  return Parse(allocator, content, length, dictionary);
}

}  // namespace

CFDictionaryRef CreateInfoDictionary(CFAllocatorRef allocator, const char *folderPath) {
  CFRef<CFDictionaryRef> dictionary;
  switch (ReadInfoPlist(allocator, folderPath, &dictionary)) {
    case Outcome::kRead:
      return dictionary.release();
    case Outcome::kAbsent:
      return CreateEmptyDictionary(allocator);
    case Outcome::kOutOfMemory:
      break;
  }
  return nullptr;
}

}  // namespace tolvan::bundle
