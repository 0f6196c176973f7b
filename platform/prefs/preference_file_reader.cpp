#include "platform/prefs/preference_file_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/base/heap_buffer.hpp"
#include "platform/cf/cf_data.h"
#include "platform/cf/cf_property_list.h"
#include "platform/cf/cf_string.h"
#include "platform/prefs/trusted_path.hpp"
#include "unix/full_transfer.h"
#include "unix/unique_fd.hpp"

namespace tolvan::prefs {
namespace {

FileState Fail(int *error, int value) {
  *error = value;
  return FileState::kFailed;
}

FileState ParseDictionary(const HeapBuffer &bytes, CFRef<CFDictionaryRef> *dictionary,
                          int *error) {
  auto data = CFRef<CFDataRef>::Adopt(CFDataCreateWithBytesNoCopy(
      kCFAllocatorDefault, bytes.data(), static_cast<CFIndex>(bytes.size()), kCFAllocatorNull));
  if (!data) return Fail(error, ENOMEM);
  CFRef<CFStringRef> explanation;
  auto list = CFRef<CFPropertyListRef>::Adopt(CFPropertyListCreateFromXMLData(
      kCFAllocatorDefault, data.get(), kCFPropertyListImmutable, explanation.out()));
  // Taking a reader that ran short of memory for a corrupt file would make a
  // saver under a tight memory limit move good preferences aside.
  if (!list) {
    return TolvanPropertyListErrorIsOutOfMemory(explanation.get()) ? Fail(error, ENOMEM)
                                                                    : FileState::kCorrupt;
  }
  if (CFGetTypeID(list.get()) != CFDictionaryGetTypeID()) return FileState::kCorrupt;
  dictionary->reset(static_cast<CFDictionaryRef>(list.release()));
  return FileState::kValid;
}

}  // namespace

FileState ReadPreferenceFile(int folder, const char *name, CFRef<CFDictionaryRef> *dictionary,
                             int *error) {
  // O_NONBLOCK: a FIFO planted at the name must not hang the reader before
  // the check below refuses it.
  UniqueFd file(::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!file) return errno == ENOENT ? FileState::kAbsent : Fail(error, errno);
  struct stat status;
  if (::fstat(file.get(), &status) != 0) return Fail(error, errno);
  if (!IsTrustedFile(status)) return Fail(error, EPERM);
  if (status.st_size <= 0 || static_cast<size_t>(status.st_size) > kMaxPreferenceFileSize) {
    return FileState::kCorrupt;
  }
  HeapBuffer bytes = HeapBuffer::Allocate(static_cast<size_t>(status.st_size));
  if (!bytes) return Fail(error, ENOMEM);
  // The store never rewrites a file in place, so the size cannot change
  // under the reader; a shorter read is an I/O fault, not a short file.
  int read_error = TolvanUNIXRead(file.get(), bytes.data(), bytes.size(), nullptr);
  if (read_error != 0) return Fail(error, read_error == EPIPE ? EIO : read_error);
  return ParseDictionary(bytes, dictionary, error);
}

}  // namespace tolvan::prefs
