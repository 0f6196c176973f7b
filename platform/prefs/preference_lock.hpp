// The exclusive lock that makes concurrent saves of one domain take turns.
//
// The lock is a separate, permanent file next to the domain's file
// ("<name>.lock"): the domain's file itself is replaced by every save, so a
// lock on it would be a lock on an inode that is about to leave. The lock
// file is never removed, which keeps "open, then lock" free of the race
// where a saver locks a file another has just unlinked.
#ifndef TOLVAN_PLATFORM_PREFS_PREFERENCE_LOCK_HPP
#define TOLVAN_PLATFORM_PREFS_PREFERENCE_LOCK_HPP

#include <string>
#include <string_view>

#include "unix/unique_fd.hpp"

namespace tolvan::prefs {

std::string LockFileName(std::string_view name);

// Opens (creating it when missing) and locks the lock file of name in
// folder, waiting for other holders. The lock is held until *lock is
// closed. 0, or: ELOOP for a link at the lock's name, EPERM for a lock file
// that is not trusted, ENOLCK when the name no longer leads to the locked
// file, or the errno of the failed call.
int LockDomainFile(int folder, std::string_view name, UniqueFd *lock);

}  // namespace tolvan::prefs

#endif
