// Folder descriptors: openat2's RESOLVE_NO_SYMLINKS where the kernel has it,
// else at least a last component that is not a link.
#include "platform/files/folder_descriptor.hpp"

#include <fcntl.h>
#include <linux/openat2.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files/file_status.hpp"

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

OSStatus OpenObjectFolder(const FSRef &ref, ObjectInFolder *object) {
  size_t length = strnlen(ref.path, sizeof ref.path);
  if (length == sizeof ref.path || length == 0 || ref.path[0] != '/') return paramErr;
  if (length == 1) {
    object->folder = OpenFolderWithoutLinks("/");
    object->name = ".";
  } else {
    const char *slash = static_cast<const char *>(::memrchr(ref.path, '/', length));
    if (slash[1] == '\0') return paramErr;
    FSRef parent{};
    ::memcpy(parent.path, ref.path, slash == ref.path ? 1 : static_cast<size_t>(slash - ref.path));
    object->folder = OpenFolderWithoutLinks(parent.path);
    object->name = slash + 1;
  }
  return object->folder ? noErr : StatusOfErrno(errno);
}

}  // namespace tolvan::files
