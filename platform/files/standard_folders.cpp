// Standard folders: where each domain keeps each kind of folder, and making
// the missing ones the user is allowed to have made.
//
// The user is the effective user. The environment is only consulted when the
// process is not in secure-execution mode (secure_getenv): a set-user-ID
// program takes $HOME from the password database instead of from its caller.
#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>
#include <vector>

#include "platform/base/system_root.hpp"
#include "platform/files/file_status.hpp"
#include "unix/unique_fd.hpp"

namespace tolvan::files {
namespace {

enum class Base { kHome, kSystemRoot };

struct Location {
  OSType type;
  SInt16 domain;
  Base base;
  const char *path;
};

constexpr Location kLocations[] = {
    {kApplicationSupportFolderType, kUserDomain, Base::kHome, ".local/share"},
    {kApplicationSupportFolderType, kLocalDomain, Base::kSystemRoot, "usr/local/share"},
    {kApplicationSupportFolderType, kNetworkDomain, Base::kSystemRoot, "net/share"},
    {kApplicationSupportFolderType, kSystemDomain, Base::kSystemRoot, "usr/share"},
    {kFrameworksFolderType, kUserDomain, Base::kHome, ".local/lib/frameworks"},
    {kFrameworksFolderType, kLocalDomain, Base::kSystemRoot, "usr/local/lib/frameworks"},
    {kFrameworksFolderType, kSystemDomain, Base::kSystemRoot, "usr/lib/frameworks"},
};

constexpr mode_t kFolderMode = 0755;
constexpr mode_t kTemporaryFolderMode = 0700;

const char *AbsoluteVariable(const char *name) {
  const char *value = ::secure_getenv(name);
  return value != nullptr && value[0] == '/' ? value : nullptr;
}

// $HOME, else the password database's home of the effective user.
bool HomeFolder(std::string *home) {
  if (const char *value = AbsoluteVariable("HOME")) {
    *home = value;
    return true;
  }
  std::vector<char> buffer(16384);
  for (;;) {
    passwd entry;
    passwd *found = nullptr;
    int error = ::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE && buffer.size() < (size_t{1} << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (error != 0 || found == nullptr || entry.pw_dir == nullptr || entry.pw_dir[0] != '/') {
      return false;
    }
    *home = entry.pw_dir;
    return true;
  }
}

// Without trailing slashes: "link/" would make even an O_NOFOLLOW open
// follow the link.
std::string TemporaryFolderPath() {
  const char *runtime = AbsoluteVariable("XDG_RUNTIME_DIR");
  if (runtime == nullptr) return "/tmp/tolvan-" + std::to_string(::geteuid());
  std::string path = runtime;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Walks the path from the root, making each missing folder. Folders that
// exist are entered as they are (links the user set up included); a folder
// just made is entered without following a link, so a link put in its place
// meanwhile ends the walk instead of redirecting it.
OSStatus MakeFolders(const std::string &path, mode_t last_mode) {
  UniqueFd folder(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!folder) return StatusOfErrno(errno);
  size_t start = 0;
  while (start < path.size()) {
    while (start < path.size() && path[start] == '/') ++start;
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (start == end) break;
    std::string name = path.substr(start, end - start);
    bool last = path.find_first_not_of('/', end) == std::string::npos;
    UniqueFd next(::openat(folder.get(), name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!next && errno == ENOENT) {
      if (::mkdirat(folder.get(), name.c_str(), last ? last_mode : kFolderMode) != 0 &&
          errno != EEXIST) {
        return StatusOfErrno(errno);
      }
      next = UniqueFd(
          ::openat(folder.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    if (!next) return StatusOfErrno(errno);
    folder = std::move(next);
    start = end;
  }
  return noErr;
}

// Others can make names in /tmp, so what is found there must be the user's
// own private folder and nothing else.
OSStatus CheckTemporaryFolder(const std::string &path) {
  UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder) return errno == ENOENT ? fnfErr : EPERM;
  struct stat status;
  if (::fstat(folder.get(), &status) != 0) return StatusOfErrno(errno);
  if (status.st_uid != ::geteuid() || (status.st_mode & 07777) != kTemporaryFolderMode) {
    return EPERM;
  }
  return noErr;
}

OSStatus PrepareTemporaryFolder(const std::string &path, bool create) {
  struct stat status;
  if (::lstat(path.c_str(), &status) == 0 || errno != ENOENT || !create) {
    return CheckTemporaryFolder(path);
  }
  OSStatus made = MakeFolders(path, kTemporaryFolderMode);
  if (made != noErr) return made;
  // The umask may have taken bits the folder needs. Only a folder of the
  // user's own gets them: one someone else made there meanwhile is refused
  // below, untouched.
  UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat owner;
  if (folder && ::fstat(folder.get(), &owner) == 0 && owner.st_uid == ::geteuid() &&
      ::fchmod(folder.get(), kTemporaryFolderMode) != 0) {
    return StatusOfErrno(errno);
  }
  return CheckTemporaryFolder(path);
}

OSStatus PrepareFolder(const std::string &path, SInt16 domain, bool create) {
  struct stat status;
  if (::stat(path.c_str(), &status) == 0) return S_ISDIR(status.st_mode) ? noErr : fnfErr;
  if (errno != ENOENT) return StatusOfErrno(errno);
  if (!create || domain != kUserDomain) return fnfErr;
  return MakeFolders(path, kFolderMode);
}

const Location *FindLocation(OSType type, SInt16 domain) {
  for (const Location &location : kLocations) {
    if (location.type == type && location.domain == domain) return &location;
  }
  return nullptr;
}

OSStatus FindFolder(SInt16 domain, OSType type, bool create, FSRef *ref) {
  if (domain == kOnAppropriateDisk) domain = kSystemDomain;
  std::string path;
  OSStatus status;
  if (type == kTemporaryFolderType) {
    if (domain != kUserDomain) return fnfErr;
    path = TemporaryFolderPath();
    status = PrepareTemporaryFolder(path, create);
  } else {
    const Location *location = FindLocation(type, domain);
    if (location == nullptr) return fnfErr;
    if (location->base == Base::kHome) {
      if (!HomeFolder(&path)) return fnfErr;
      path += '/';
      path += location->path;
    } else {
      path = SystemPath(location->path);
    }
    status = PrepareFolder(path, domain, create);
  }
  if (status != noErr) return status;
  return FSPathMakeRef(reinterpret_cast<const UInt8 *>(path.c_str()), ref, nullptr);
}

}  // namespace
}  // namespace tolvan::files

OSStatus FSFindFolder(SInt16 domain, OSType folderType, Boolean createFolder, FSRef *foundRef) {
  if (foundRef == nullptr) return paramErr;
  try {
    return tolvan::files::FindFolder(domain, folderType, createFolder, foundRef);
  } catch (const std::bad_alloc &) {
    return memFullErr;
  }
}
