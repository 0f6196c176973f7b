#include "platform/auth/trusted_path.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tolvan::auth {
namespace {

bool IsTrusted(const struct stat &info, EntryKind kind, mode_t forbiddenModeBits) {
  bool rightKind = kind == EntryKind::kFolder ? S_ISDIR(info.st_mode) : S_ISREG(info.st_mode);
  if (!rightKind || info.st_uid != 0 || (info.st_mode & forbiddenModeBits) != 0) return false;
  // A second name for a file could sit in a folder someone else controls.
  return kind == EntryKind::kFolder || info.st_nlink == 1;
}

UniqueFd CheckOpened(UniqueFd fd, EntryKind kind, mode_t forbiddenModeBits, int *error) {
  if (!fd) {
    *error = errno;
    return fd;
  }
  struct stat info;
  if (::fstat(fd.get(), &info) != 0) {
    *error = errno;
    return UniqueFd();
  }
  if (!IsTrusted(info, kind, forbiddenModeBits)) {
    *error = EPERM;
    return UniqueFd();
  }
  return fd;
}

int OpenFlags(EntryKind kind, int flags) {
  int base = O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
  return kind == EntryKind::kFolder ? base | O_DIRECTORY | O_RDONLY | flags : base | flags;
}

}  // namespace

UniqueFd OpenTrusted(int folder, const char *name, EntryKind kind, int flags,
                     mode_t forbiddenModeBits, int *error) noexcept {
  UniqueFd fd(::openat(folder, name, OpenFlags(kind, flags), 0600));
  if (!fd && errno == ENOTDIR) errno = ELOOP;
  return CheckOpened(std::move(fd), kind, forbiddenModeBits, error);
}

UniqueFd OpenSystemRoot(int *error) noexcept {
  UniqueFd fd(::open(TOLVAN_SYSTEM_ROOT, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return CheckOpened(std::move(fd), EntryKind::kFolder, kWritableByOthers, error);
}

UniqueFd OpenTrustedPath(int root, const char *relativePath, EntryKind finalKind,
                         int *error) noexcept {
  char component[NAME_MAX + 1];
  UniqueFd current;
  int folder = root;
  const char *rest = relativePath;
  for (;;) {
    const char *slash = std::strchr(rest, '/');
    size_t length = slash == nullptr ? std::strlen(rest) : static_cast<size_t>(slash - rest);
    if (length == 0 || length > NAME_MAX) {
      *error = EINVAL;
      return UniqueFd();
    }
    std::memcpy(component, rest, length);
    component[length] = '\0';
    bool last = slash == nullptr;
    UniqueFd next = OpenTrusted(folder, component, last ? finalKind : EntryKind::kFolder,
                                O_RDONLY, kWritableByOthers, error);
    if (!next || last) return next;
    current = std::move(next);
    folder = current.get();
    rest = slash + 1;
  }
}

UniqueFd OpenOrMakeTrustedFolder(int folder, const char *name, mode_t mode,
                                 mode_t forbiddenModeBits, int *error) noexcept {
  // The umask may have narrowed the mode, and the group is the caller's
  // effective group: both are set on the open folder afterwards.
  if (::mkdirat(folder, name, mode) == 0) {
    UniqueFd made(::openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (made) {
      (void)::fchown(made.get(), 0, 0);
      (void)::fchmod(made.get(), mode);
    }
  } else if (errno != EEXIST) {
    *error = errno;
    return UniqueFd();
  }
  return OpenTrusted(folder, name, EntryKind::kFolder, 0, forbiddenModeBits, error);
}

UniqueFd OpenRecordFolder(int root, const char *name, bool create, int *error) noexcept {
  struct Step {
    const char *name;
    mode_t mode;
    mode_t forbidden;
  };
  const Step steps[] = {
      {"run", 0755, kWritableByOthers},
      {"tolvan", 0755, kWritableByOthers},
      {name, 0700, kPrivate},
  };
  UniqueFd current;
  int folder = root;
  for (const Step &step : steps) {
    UniqueFd next =
        create ? OpenOrMakeTrustedFolder(folder, step.name, step.mode, step.forbidden, error)
               : OpenTrusted(folder, step.name, EntryKind::kFolder, 0, step.forbidden, error);
    if (!next) return next;
    current = std::move(next);
    folder = current.get();
  }
  return current;
}

}  // namespace tolvan::auth
