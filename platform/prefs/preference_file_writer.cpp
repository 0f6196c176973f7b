#include "platform/prefs/preference_file_writer.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "unix/full_transfer.h"
#include "unix/unique_fd.hpp"

namespace tolvan::prefs {
namespace {

constexpr mode_t kFileMode = 0644;
constexpr size_t kSuffixLength = 16;
// Each attempt draws a new random suffix; a clash more than a few times in
// a row means something else is creating these names.
constexpr int kNameAttempts = 16;
constexpr std::string_view kTemporaryTag = ".tmp~";
constexpr std::string_view kAsideTag = ".corrupt~";

// Uniqueness comes from O_EXCL / RENAME_NOREPLACE; the suffix only makes a
// clash unlikely, so a clock-and-pid value will do when no random bytes are
// available yet.
std::string RandomSuffix() {
  uint64_t value;
  if (::getrandom(&value, sizeof value, GRND_NONBLOCK) != sizeof value) {
    struct timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    value = (static_cast<uint64_t>(now.tv_nsec) << 20) ^ static_cast<uint64_t>(now.tv_sec) ^
            (static_cast<uint64_t>(::getpid()) << 44);
  }
  char text[kSuffixLength + 1];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return std::string(text, kSuffixLength);
}

bool IsLowerHex(std::string_view text) {
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

int CreateTemporaryFile(int folder, std::string_view name, UniqueFd *file, std::string *path) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    *path = TemporaryFileName(name, RandomSuffix());
    file->reset(::openat(folder, path->c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
                         kFileMode));
    if (file->valid()) return 0;
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

// The file gets the store's owner and mode whatever the umask and the
// caller's group were.
int SettleNewFile(int file) {
  if (::geteuid() == 0 && ::fchown(file, 0, 0) != 0) return errno;
  if (::fchmod(file, kFileMode) != 0) return errno;
  return 0;
}

int WriteAndClose(UniqueFd file, CFDataRef bytes) {
  int error = SettleNewFile(file.get());
  if (error == 0) {
    error = TolvanUNIXWrite(file.get(), CFDataGetBytePtr(bytes),
                            static_cast<size_t>(CFDataGetLength(bytes)), nullptr);
    // A write that takes nothing on a regular file means no room.
    if (error == EPIPE) error = ENOSPC;
  }
  if (error == 0 && ::fsync(file.get()) != 0) error = errno;
  if (error != 0) return error;
  // A delayed write error may only show at close; after fsync it should
  // not, but a close that fails is a failed save all the same.
  return ::close(file.release()) == 0 ? 0 : errno;
}

}  // namespace

std::string TemporaryFileName(std::string_view name, std::string_view suffix) {
  std::string result(name);
  result.append(kTemporaryTag).append(suffix);
  return result;
}

std::string AsideFileName(std::string_view name, std::string_view suffix) {
  std::string result(name);
  result.append(kAsideTag).append(suffix);
  return result;
}

bool IsTemporaryFileName(std::string_view candidate, std::string_view name) {
  if (candidate.size() != name.size() + kTemporaryTag.size() + kSuffixLength) return false;
  if (candidate.substr(0, name.size()) != name) return false;
  candidate.remove_prefix(name.size());
  if (candidate.substr(0, kTemporaryTag.size()) != kTemporaryTag) return false;
  return IsLowerHex(candidate.substr(kTemporaryTag.size()));
}

int ReplaceFileDurably(int folder, const std::string &name, CFDataRef bytes) {
  UniqueFd file;
  std::string temporary;
  int error = CreateTemporaryFile(folder, name, &file, &temporary);
  if (error != 0) return error;
  error = WriteAndClose(std::move(file), bytes);
  if (error == 0 && ::renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) {
    ::unlinkat(folder, temporary.c_str(), 0);
    return error;
  }
  return ::fsync(folder) == 0 ? 0 : errno;
}

int MoveFileAside(int folder, const std::string &name) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string aside = AsideFileName(name, RandomSuffix());
    if (::renameat2(folder, name.c_str(), folder, aside.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

void RemoveStaleTemporaryFiles(int folder, std::string_view name) {
  // readdir needs a descriptor of its own, positioned at the start.
  int listing_fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing_fd < 0) return;
  DIR *listing = ::fdopendir(listing_fd);
  if (listing == nullptr) {
    ::close(listing_fd);
    return;
  }
  while (struct dirent *entry = ::readdir(listing)) {
    // unlinkat removes a link itself, never what it points to.
    if (IsTemporaryFileName(entry->d_name, name)) ::unlinkat(folder, entry->d_name, 0);
  }
  ::closedir(listing);
}

}  // namespace tolvan::prefs
