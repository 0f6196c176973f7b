// Remembered authentications on disk: <root>/run/tolvan/timestamps/, a
// folder only root may read (0700), with one file per numeric user id
// holding up to kTimestampRecordsPerUser records, one per session and
// terminal. Files are locked while read or changed, opened without
// following links, and must be root's with mode 0600 and one link; anything
// else is ignored (reading) or left alone (writing). Call as root.
#ifndef TOLVAN_PLATFORM_AUTH_TIMESTAMP_STORE_HPP
#define TOLVAN_PLATFORM_AUTH_TIMESTAMP_STORE_HPP

#include <cstdint>

#include "platform/auth/timestamp_record.hpp"

namespace tolvan::auth {

constexpr size_t kTimestampRecordsPerUser = 32;

// Whether a record grants a request from scope at now.
[[nodiscard]] bool TimestampGrants(int root, const SessionScope &scope, uint64_t now) noexcept;

// Records a granted authentication for scope at now. Failures only mean the
// next request asks again, so they are not reported.
void RememberGrant(int root, const SessionScope &scope, uint64_t now) noexcept;

// Voids scope's record, if any.
void ForgetGrant(int root, const SessionScope &scope) noexcept;

}  // namespace tolvan::auth

#endif
