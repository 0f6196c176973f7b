#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "unix/copy.h"
#include "unix/unique_fd.hpp"

namespace {

constexpr mode_t kDroppedModeBits = S_ISUID | S_ISGID | S_ISVTX;

}  // namespace

extern "C" int TolvanUNIXCopyFile(const char *sourcePath, const char *destinationPath) {
  if (sourcePath == nullptr || destinationPath == nullptr) return EINVAL;

  // The mode and times come from the file that was opened, not from a
  // second look-up of the path, so they belong to the bytes that are copied.
  tolvan::UniqueFd source(::open(sourcePath, O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!source) return errno;
  struct stat status;
  if (::fstat(source.get(), &status) != 0) return errno;

  // O_NOFOLLOW: a link planted at the destination's name must not redirect
  // the write. No O_EXCL: an existing destination is meant to be truncated
  // and rewritten in place, keeping its own mode and owner.
  mode_t mode = status.st_mode & ~kDroppedModeBits & 07777;
  tolvan::UniqueFd destination(::open(
      destinationPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW, mode));
  if (!destination) return errno;

  int error = TolvanUNIXCopyDescriptorToDescriptor(source.get(), destination.get());
  if (error != 0) return error;

  // Set through the open descriptor, to the nanosecond the file system keeps,
  // so the times land on the file just written even if its name is replaced.
  const struct timespec times[2] = {status.st_atim, status.st_mtim};
  if (::futimens(destination.get(), times) != 0) return errno;
  return 0;
}
