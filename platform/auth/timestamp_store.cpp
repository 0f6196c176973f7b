#include "platform/auth/timestamp_store.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/auth/bounded_read.hpp"
#include "platform/auth/trusted_path.hpp"
#include "unix/unique_fd.hpp"

namespace tolvan::auth {
namespace {

constexpr size_t kFileCapacity = kTimestampRecordsPerUser * kTimestampRecordSize;

struct RecordFile {
  UniqueFd fd;
  unsigned char bytes[kFileCapacity];
  size_t count = 0;
};

void FileName(uid_t uid, char (&name)[16]) {
  std::snprintf(name, sizeof name, "%u", static_cast<unsigned>(uid));
}

// Opens and locks scope.uid's file and reads its records. A file whose
// length is not a whole number of records, or too long, is read as empty
// and, when writable, emptied.
bool OpenRecordFile(int root, uid_t uid, bool forWriting, RecordFile *file) {
  int error = 0;
  UniqueFd folder = OpenRecordFolder(root, "timestamps", forWriting, &error);
  if (!folder) return false;
  char name[16];
  FileName(uid, name);
  int flags = forWriting ? O_RDWR | O_CREAT : O_RDONLY;
  file->fd = OpenTrusted(folder.get(), name, EntryKind::kFile, flags, kPrivate, &error);
  if (!file->fd) return false;
  if (forWriting) (void)::fchown(file->fd.get(), 0, 0);
  while (::flock(file->fd.get(), forWriting ? LOCK_EX : LOCK_SH) != 0) {
    if (errno != EINTR) return false;
  }
  size_t length = 0;
  bool whole = ReadToEndBounded(file->fd.get(), reinterpret_cast<char *>(file->bytes),
                                sizeof file->bytes, &length) &&
               length % kTimestampRecordSize == 0;
  if (!whole) {
    length = 0;
    if (forWriting && ::ftruncate(file->fd.get(), 0) != 0) return false;
  }
  file->count = length / kTimestampRecordSize;
  return true;
}

bool DecodeAt(const RecordFile &file, size_t index, TimestampRecord *record) {
  return DecodeTimestampRecord(file.bytes + index * kTimestampRecordSize, kTimestampRecordSize,
                               record);
}

// The slot for scope's record: its own, else a void one, else a new one at
// the end, else the oldest.
size_t ChooseSlot(const RecordFile &file, const SessionScope &scope, uint64_t now) {
  size_t firstVoid = file.count;
  size_t oldest = 0;
  uint64_t oldestTime = UINT64_MAX;
  for (size_t i = 0; i < file.count; ++i) {
    TimestampRecord record;
    if (!DecodeAt(file, i, &record)) {
      if (firstVoid == file.count) firstVoid = i;
      continue;
    }
    if (SameScope(record.scope, scope)) return i;
    if (!RecordGrants(record, record.scope, now) && firstVoid == file.count) firstVoid = i;
    if (record.time < oldestTime) {
      oldestTime = record.time;
      oldest = i;
    }
  }
  if (firstVoid < file.count) return firstVoid;
  return file.count < kTimestampRecordsPerUser ? file.count : oldest;
}

void WriteRecord(int root, const SessionScope &scope, TimestampResult result, uint64_t now) {
  RecordFile file;
  if (!OpenRecordFile(root, scope.uid, true, &file)) return;
  TimestampRecord record;
  record.scope = scope;
  record.result = result;
  record.time = now;
  unsigned char bytes[kTimestampRecordSize];
  EncodeTimestampRecord(record, bytes);
  off_t offset = static_cast<off_t>(ChooseSlot(file, scope, now) * kTimestampRecordSize);
  // The file is in /run: a lost write only costs a question, so no fsync.
  while (::pwrite(file.fd.get(), bytes, sizeof bytes, offset) < 0 && errno == EINTR) {
  }
}

}  // namespace

bool TimestampGrants(int root, const SessionScope &scope, uint64_t now) noexcept {
  RecordFile file;
  if (!OpenRecordFile(root, scope.uid, false, &file)) return false;
  for (size_t i = 0; i < file.count; ++i) {
    TimestampRecord record;
    if (DecodeAt(file, i, &record) && RecordGrants(record, scope, now)) return true;
  }
  return false;
}

void RememberGrant(int root, const SessionScope &scope, uint64_t now) noexcept {
  WriteRecord(root, scope, TimestampResult::kGranted, now);
}

void ForgetGrant(int root, const SessionScope &scope) noexcept {
  WriteRecord(root, scope, TimestampResult::kRevoked, 0);
}

}  // namespace tolvan::auth
