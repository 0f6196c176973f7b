// Layout (native byte order: written and read on the same machine):
//   0  magic "TvLr"        8  pid (u32)        16 start time (u64, ticks)
//   4  version (u16) = 1  12  real uid (u32)   24 device (u64)
//   6  reserved (u16) = 0                      32 inode (u64)
#include "platform/auth/launch_record.hpp"

#include <unistd.h>

#include <cstring>

#include "platform/auth/native_fields.hpp"
#include "platform/auth/process_identity.hpp"

namespace tolvan::auth {
namespace {

constexpr unsigned char kMagic[4] = {'T', 'v', 'L', 'r'};
constexpr uint16_t kVersion = 1;

constexpr size_t kVersionOffset = 4;
constexpr size_t kReservedOffset = 6;
constexpr size_t kPidOffset = 8;
constexpr size_t kUidOffset = 12;
constexpr size_t kStartTimeOffset = 16;
constexpr size_t kDeviceOffset = 24;
constexpr size_t kInodeOffset = 32;
static_assert(kInodeOffset + sizeof(uint64_t) == kLaunchRecordSize);

}  // namespace

void EncodeLaunchRecord(const LaunchRecord &record,
                        unsigned char bytes[kLaunchRecordSize]) noexcept {
  std::memcpy(bytes, kMagic, sizeof kMagic);
  PutField<uint16_t>(bytes, kVersionOffset, kVersion);
  PutField<uint16_t>(bytes, kReservedOffset, 0);
  PutField<uint32_t>(bytes, kPidOffset, static_cast<uint32_t>(record.pid));
  PutField<uint32_t>(bytes, kUidOffset, static_cast<uint32_t>(record.uid));
  PutField<uint64_t>(bytes, kStartTimeOffset, record.startTime);
  PutField<uint64_t>(bytes, kDeviceOffset, record.device);
  PutField<uint64_t>(bytes, kInodeOffset, record.inode);
}

bool DecodeLaunchRecord(const unsigned char *bytes, size_t length, LaunchRecord *out) noexcept {
  if (length != kLaunchRecordSize) return false;
  if (std::memcmp(bytes, kMagic, sizeof kMagic) != 0) return false;
  if (GetField<uint16_t>(bytes, kVersionOffset) != kVersion) return false;
  if (GetField<uint16_t>(bytes, kReservedOffset) != 0) return false;
  uint32_t pid = GetField<uint32_t>(bytes, kPidOffset);
  if (pid == 0 || pid > static_cast<uint32_t>(INT32_MAX)) return false;
  LaunchRecord decoded;
  decoded.pid = static_cast<pid_t>(pid);
  decoded.uid = static_cast<uid_t>(GetField<uint32_t>(bytes, kUidOffset));
  decoded.startTime = GetField<uint64_t>(bytes, kStartTimeOffset);
  decoded.device = GetField<uint64_t>(bytes, kDeviceOffset);
  decoded.inode = GetField<uint64_t>(bytes, kInodeOffset);
  *out = decoded;
  return true;
}

bool SameLaunch(const LaunchRecord &record, const LaunchRecord &expected) noexcept {
  return record.pid == expected.pid && record.uid == expected.uid &&
         record.startTime == expected.startTime && record.device == expected.device &&
         record.inode == expected.inode;
}

bool DescribeThisProcessRunning(const struct stat &executable, LaunchRecord *out) noexcept {
  ProcStat self;
  if (!ReadSelfStat(&self)) return false;
  out->pid = self.pid;
  out->uid = ::getuid();
  out->startTime = self.startTime;
  out->device = executable.st_dev;
  out->inode = executable.st_ino;
  return true;
}

}  // namespace tolvan::auth
