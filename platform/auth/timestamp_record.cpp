// Layout (native byte order: only this machine's root reads it):
//   0  magic "TvTs"         16 terminal (u32)           32 boot id (16 bytes)
//   4  version (u16) = 1    20 session id (u32)         48 time (u64, ns, boottime)
//   6  record size (u16)    24 leader start (u64)       56 reserved, zero (8 bytes)
//   8  uid (u32)
//   12 result (u32)
#include "platform/auth/timestamp_record.hpp"

#include <cstring>

#include "platform/auth/native_fields.hpp"

namespace tolvan::auth {
namespace {

constexpr unsigned char kMagic[4] = {'T', 'v', 'T', 's'};
constexpr uint16_t kVersion = 1;

constexpr size_t kVersionOffset = 4;
constexpr size_t kSizeOffset = 6;
constexpr size_t kUidOffset = 8;
constexpr size_t kResultOffset = 12;
constexpr size_t kTerminalOffset = 16;
constexpr size_t kSessionOffset = 20;
constexpr size_t kLeaderStartOffset = 24;
constexpr size_t kBootIdOffset = 32;
constexpr size_t kTimeOffset = 48;
constexpr size_t kReservedOffset = 56;
static_assert(kBootIdOffset + sizeof(BootId::bytes) == kTimeOffset);
static_assert(kReservedOffset + 8 == kTimestampRecordSize);

bool IsKnownResult(uint32_t result) {
  return result == static_cast<uint32_t>(TimestampResult::kGranted) ||
         result == static_cast<uint32_t>(TimestampResult::kRevoked);
}

}  // namespace

void EncodeTimestampRecord(const TimestampRecord &record,
                           unsigned char bytes[kTimestampRecordSize]) noexcept {
  std::memset(bytes, 0, kTimestampRecordSize);
  std::memcpy(bytes, kMagic, sizeof kMagic);
  PutField<uint16_t>(bytes, kVersionOffset, kVersion);
  PutField<uint16_t>(bytes, kSizeOffset, kTimestampRecordSize);
  PutField<uint32_t>(bytes, kUidOffset, record.scope.uid);
  PutField<uint32_t>(bytes, kResultOffset, static_cast<uint32_t>(record.result));
  PutField<uint32_t>(bytes, kTerminalOffset, record.scope.terminal);
  PutField<uint32_t>(bytes, kSessionOffset, static_cast<uint32_t>(record.scope.session));
  PutField<uint64_t>(bytes, kLeaderStartOffset, record.scope.leaderStartTime);
  std::memcpy(bytes + kBootIdOffset, record.scope.bootId.bytes, sizeof record.scope.bootId.bytes);
  PutField<uint64_t>(bytes, kTimeOffset, record.time);
}

bool DecodeTimestampRecord(const unsigned char *bytes, size_t length,
                           TimestampRecord *out) noexcept {
  if (length != kTimestampRecordSize) return false;
  if (std::memcmp(bytes, kMagic, sizeof kMagic) != 0) return false;
  if (GetField<uint16_t>(bytes, kVersionOffset) != kVersion) return false;
  if (GetField<uint16_t>(bytes, kSizeOffset) != kTimestampRecordSize) return false;
  if (GetField<uint64_t>(bytes, kReservedOffset) != 0) return false;
  uint32_t result = GetField<uint32_t>(bytes, kResultOffset);
  if (!IsKnownResult(result)) return false;
  TimestampRecord record;
  record.scope.uid = GetField<uint32_t>(bytes, kUidOffset);
  record.result = static_cast<TimestampResult>(result);
  record.scope.terminal = GetField<uint32_t>(bytes, kTerminalOffset);
  record.scope.session = static_cast<pid_t>(GetField<uint32_t>(bytes, kSessionOffset));
  record.scope.leaderStartTime = GetField<uint64_t>(bytes, kLeaderStartOffset);
  std::memcpy(record.scope.bootId.bytes, bytes + kBootIdOffset, sizeof record.scope.bootId.bytes);
  record.time = GetField<uint64_t>(bytes, kTimeOffset);
  *out = record;
  return true;
}

bool SameScope(const SessionScope &a, const SessionScope &b) noexcept {
  return a.uid == b.uid && a.terminal == b.terminal && a.session == b.session &&
         a.leaderStartTime == b.leaderStartTime &&
         std::memcmp(a.bootId.bytes, b.bootId.bytes, sizeof a.bootId.bytes) == 0;
}

bool RecordGrants(const TimestampRecord &record, const SessionScope &scope,
                  uint64_t now) noexcept {
  // A different boot id voids records written before this boot, whatever
  // their time says; a time after now cannot have been written by us.
  return record.result == TimestampResult::kGranted && SameScope(record.scope, scope) &&
         record.time <= now && now - record.time < kTimestampLifeNanoseconds;
}

}  // namespace tolvan::auth
