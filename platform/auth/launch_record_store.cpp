#include "platform/auth/launch_record_store.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/auth/bounded_read.hpp"
#include "platform/auth/trusted_path.hpp"
#include "unix/full_transfer.h"
#include "unix/unique_fd.hpp"

namespace tolvan::auth {
namespace {

constexpr char kFolderName[] = "launches";

struct RecordNames {
  char record[16];
  char temporary[24];
};

RecordNames NamesFor(pid_t pid) {
  RecordNames names;
  std::snprintf(names.record, sizeof names.record, "%d", static_cast<int>(pid));
  std::snprintf(names.temporary, sizeof names.temporary, "%d.new", static_cast<int>(pid));
  return names;
}

bool WriteTemporary(int folder, const char *name, const LaunchRecord &record) {
  // Left over from a trampoline of the same pid that was killed midway.
  (void)::unlinkat(folder, name, 0);
  UniqueFd fd(::openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd) return false;
  unsigned char bytes[kLaunchRecordSize];
  EncodeLaunchRecord(record, bytes);
  // The group would otherwise be the caller's effective group.
  bool written = ::fchown(fd.get(), 0, 0) == 0 &&
                 TolvanUNIXWrite(fd.get(), bytes, sizeof bytes, nullptr) == 0;
  return ::close(fd.release()) == 0 && written;
}

}  // namespace

bool StoreLaunchRecord(int root, const LaunchRecord &record) noexcept {
  int error = 0;
  UniqueFd folder = OpenRecordFolder(root, kFolderName, true, &error);
  if (!folder) return false;
  const RecordNames names = NamesFor(record.pid);
  // /run is a memory file system: without fsync, a crash loses the record
  // together with the process it names.
  if (WriteTemporary(folder.get(), names.temporary, record) &&
      ::renameat(folder.get(), names.temporary, folder.get(), names.record) == 0) {
    return true;
  }
  (void)::unlinkat(folder.get(), names.temporary, 0);
  return false;
}

void DiscardLaunchRecord(int root, pid_t pid) noexcept {
  int error = 0;
  UniqueFd folder = OpenRecordFolder(root, kFolderName, false, &error);
  if (folder) (void)::unlinkat(folder.get(), NamesFor(pid).record, 0);
}

bool TakeLaunchRecord(int root, pid_t pid, LaunchRecord *out) noexcept {
  int error = 0;
  UniqueFd folder = OpenRecordFolder(root, kFolderName, false, &error);
  if (!folder) return false;
  const RecordNames names = NamesFor(pid);
  UniqueFd fd = OpenTrusted(folder.get(), names.record, EntryKind::kFile, O_RDONLY, kPrivate,
                            &error);
  if (!fd) return false;
  unsigned char bytes[kLaunchRecordSize];
  size_t length = 0;
  LaunchRecord record;
  bool read = ReadToEndBounded(fd.get(), reinterpret_cast<char *>(bytes), sizeof bytes, &length) &&
              DecodeLaunchRecord(bytes, length, &record);
  // Used up even when it does not decode; of two concurrent takers only the
  // one whose unlink succeeds may use it.
  if (::unlinkat(folder.get(), names.record, 0) != 0 || !read) return false;
  *out = record;
  return true;
}

}  // namespace tolvan::auth
