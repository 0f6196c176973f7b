// The scope of the calling process - real user, controlling terminal,
// session and its leader's start time, boot - and the time on the clock
// timestamps use. The terminal comes from /proc/self/stat: ttyname would
// name whatever descriptor 0 is, which the caller controls.
#ifndef TOLVAN_PLATFORM_AUTH_SESSION_SCOPE_HPP
#define TOLVAN_PLATFORM_AUTH_SESSION_SCOPE_HPP

#include <sys/types.h>

#include <cstdint>

#include "platform/auth/timestamp_record.hpp"

namespace tolvan::auth {

// False when a part cannot be told, for instance when the session leader
// has exited: such a request is then neither remembered nor let off.
[[nodiscard]] bool CurrentSessionScope(uid_t uid, SessionScope *out) noexcept;

// Nanoseconds on CLOCK_BOOTTIME.
[[nodiscard]] uint64_t BootClockNow() noexcept;

}  // namespace tolvan::auth

#endif
