#include "platform/prefs/trusted_path.hpp"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tolvan::prefs {
namespace {

constexpr mode_t kFolderMode = 0755;
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool IsTrustedOwner(uid_t owner) { return owner == 0 || owner == ::geteuid(); }

bool IsWritableByOthers(mode_t mode) { return (mode & (S_IWGRP | S_IWOTH)) != 0; }

// The next component of path after position, skipping empty and "."
// components; empty at the end.
std::string_view NextComponent(std::string_view path, size_t *position) {
  while (*position < path.size()) {
    size_t end = path.find('/', *position);
    if (end == std::string_view::npos) end = path.size();
    std::string_view component = path.substr(*position, end - *position);
    *position = end + 1;
    if (!component.empty() && component != ".") return component;
  }
  return {};
}

bool HasMoreComponents(std::string_view path, size_t position) {
  return !NextComponent(path, &position).empty();
}

// A folder this process made gets the store's mode whatever the umask was,
// and root's group when root made it.
int SettleNewFolder(int folder) {
  if (::geteuid() == 0 && ::fchown(folder, 0, 0) != 0) return errno;
  if (::fchmod(folder, kFolderMode) != 0) return errno;
  return 0;
}

int OpenChild(int parent, const char *name, MissingFolders missing, UniqueFd *child) {
  child->reset(::openat(parent, name, kFolderFlags));
  if (child->valid()) return 0;
  if (errno != ENOENT || missing == MissingFolders::kFail) return errno;
  bool created = ::mkdirat(parent, name, kFolderMode) == 0;
  // EEXIST: another saver made it first; it is checked like any other.
  if (!created && errno != EEXIST) return errno;
  child->reset(::openat(parent, name, kFolderFlags));
  if (!child->valid()) return errno;
  return created ? SettleNewFolder(child->get()) : 0;
}

int CheckFolder(int folder, bool is_last) {
  struct stat status;
  if (::fstat(folder, &status) != 0) return errno;
  return IsTrustedFolder(status, is_last) ? 0 : EPERM;
}

}  // namespace

bool IsTrustedFolder(const struct stat &status, bool is_last) {
  if (!S_ISDIR(status.st_mode) || !IsTrustedOwner(status.st_uid)) return false;
  if (!IsWritableByOthers(status.st_mode)) return true;
  return !is_last && status.st_uid == 0 && (status.st_mode & S_ISVTX) != 0;
}

bool IsTrustedFile(const struct stat &status) {
  return S_ISREG(status.st_mode) && status.st_nlink == 1 && IsTrustedOwner(status.st_uid) &&
         !IsWritableByOthers(status.st_mode);
}

int OpenTrustedFolder(std::string_view path, MissingFolders missing, UniqueFd *folder) {
  if (path.empty() || path.front() != '/') return EINVAL;
  UniqueFd current(::open("/", kFolderFlags));
  if (!current) return errno;
  size_t position = 0;
  int error = CheckFolder(current.get(), !HasMoreComponents(path, position));
  while (error == 0) {
    std::string_view component = NextComponent(path, &position);
    if (component.empty()) break;
    if (component == ".." || component.size() > NAME_MAX) return EINVAL;
    char name[NAME_MAX + 1];
    std::memcpy(name, component.data(), component.size());
    name[component.size()] = '\0';
    UniqueFd child;
    error = OpenChild(current.get(), name, missing, &child);
    if (error == 0) error = CheckFolder(child.get(), !HasMoreComponents(path, position));
    current = std::move(child);
  }
  if (error != 0) return error;
  *folder = std::move(current);
  return 0;
}

}  // namespace tolvan::prefs
