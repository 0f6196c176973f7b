// Launch records on disk: <root>/run/tolvan/launches/<pid>, in a folder
// only root may read (0700), each file root's, mode 0600, one link, holding
// exactly one record. A record is written just before the trampoline
// executes the program and used up by the program's first request for its
// privileged reference. Call as root.
#ifndef TOLVAN_PLATFORM_AUTH_LAUNCH_RECORD_STORE_HPP
#define TOLVAN_PLATFORM_AUTH_LAUNCH_RECORD_STORE_HPP

#include <sys/types.h>

#include "platform/auth/launch_record.hpp"

namespace tolvan::auth {

// Writes the record for record.pid, replacing an older one for that pid in
// one rename (folders are made on the way). False when it was not written.
[[nodiscard]] bool StoreLaunchRecord(int root, const LaunchRecord &record) noexcept;

// Removes pid's record, if any.
void DiscardLaunchRecord(int root, pid_t pid) noexcept;

// Reads pid's record and removes it. True only when a trusted file held a
// record that decodes and this call was the one that removed it.
[[nodiscard]] bool TakeLaunchRecord(int root, pid_t pid, LaunchRecord *out) noexcept;

}  // namespace tolvan::auth

#endif
