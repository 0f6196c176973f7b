// One remembered authentication: who, in which session and on which
// terminal, during which boot, and when. Records are fixed-size and
// versioned; decoding checks every field, and only a record that names
// exactly the asking user, session, session leader, terminal and boot, is
// not dated in the future and is less than five minutes old, grants.
#ifndef TOLVAN_PLATFORM_AUTH_TIMESTAMP_RECORD_HPP
#define TOLVAN_PLATFORM_AUTH_TIMESTAMP_RECORD_HPP

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "platform/auth/process_identity.hpp"

namespace tolvan::auth {

constexpr size_t kTimestampRecordSize = 64;
constexpr uint64_t kTimestampLifeNanoseconds = 5ull * 60 * 1'000'000'000;

// Where a request comes from: the scope within which an authentication is
// remembered.
struct SessionScope {
  uid_t uid = 0;
  uint32_t terminal = 0;
  pid_t session = 0;
  // Start time of the session leader: a new login that reuses the session
  // id gets a new one.
  uint64_t leaderStartTime = 0;
  BootId bootId;
};

enum class TimestampResult : uint32_t {
  // Written by a revocation: grants nothing.
  kRevoked = 0x52564b44,  // "RVKD"
  kGranted = 0x47524e54,  // "GRNT"
};

struct TimestampRecord {
  SessionScope scope;
  TimestampResult result = TimestampResult::kRevoked;
  // CLOCK_BOOTTIME, which keeps counting through suspend.
  uint64_t time = 0;
};

void EncodeTimestampRecord(const TimestampRecord &record,
                           unsigned char bytes[kTimestampRecordSize]) noexcept;

// False unless length is the record size and magic, version, size, result
// and the reserved bytes are exactly as written.
[[nodiscard]] bool DecodeTimestampRecord(const unsigned char *bytes, size_t length,
                                         TimestampRecord *out) noexcept;

[[nodiscard]] bool SameScope(const SessionScope &a, const SessionScope &b) noexcept;

// The judgement on one record for a request from scope at time now.
[[nodiscard]] bool RecordGrants(const TimestampRecord &record, const SessionScope &scope,
                                uint64_t now) noexcept;

}  // namespace tolvan::auth

#endif
