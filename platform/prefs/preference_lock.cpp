#include "platform/prefs/preference_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/prefs/trusted_path.hpp"

namespace tolvan::prefs {
namespace {

// Only the store's own writers may open the lock: flock needs no write
// access, so a lock file others could open would let any user hold every
// save up for as long as they liked.
constexpr mode_t kLockMode = 0600;

int Lock(int file) {
  while (::flock(file, LOCK_EX) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

bool IsSameFile(const struct stat &a, const struct stat &b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

std::string LockFileName(std::string_view name) {
  std::string result(name);
  result.append(".lock");
  return result;
}

int LockDomainFile(int folder, std::string_view name, UniqueFd *lock) {
  std::string lock_name = LockFileName(name);
  UniqueFd file(::openat(folder, lock_name.c_str(),
                         O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                         kLockMode));
  if (!file) return errno;
  struct stat status;
  if (::fstat(file.get(), &status) != 0) return errno;
  if (!IsTrustedFile(status)) return EPERM;
  if ((status.st_mode & 0077) != 0 && ::fchmod(file.get(), kLockMode) != 0) return errno;
  int error = Lock(file.get());
  if (error != 0) return error;
  // A lock on a file that has lost its name excludes nobody who opens the
  // name afresh.
  struct stat named;
  if (::fstatat(folder, lock_name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  if (!IsSameFile(status, named)) return ENOLCK;
  *lock = std::move(file);
  return 0;
}

}  // namespace tolvan::prefs
