// Folder descriptors: openat2's RESOLVE_NO_SYMLINKS where the kernel has it,
// else at least a last component that is not a link.
#include "platform/files/folder_descriptor.hpp"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace tolvan::files {

UniqueFd OpenFolderWithoutLinks(const char *path) {
  open_how how{};
  how.flags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS;
  long fd = ::syscall(SYS_openat2, AT_FDCWD, path, &how, sizeof how);
  if (fd >= 0) return UniqueFd(static_cast<int>(fd));
  // ENOSYS: an older kernel; EPERM: a sandbox that filters system calls it
  // does not know.
  if (errno != ENOSYS && errno != EPERM) return UniqueFd();
  return UniqueFd(::open(path, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

}  // namespace tolvan::files
