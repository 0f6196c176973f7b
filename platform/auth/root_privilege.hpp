// The one place where the judgement becomes root. A process has root at hand
// when its saved set-user-ID is 0 (a set-user-ID program that lowered its
// effective user id to the real one) or it already runs as root. Everything
// that needs root - the password and group databases, PAM, the policy and
// the timestamp files - runs inside AsRoot, and nothing else does.
#ifndef TOLVAN_PLATFORM_AUTH_ROOT_PRIVILEGE_HPP
#define TOLVAN_PLATFORM_AUTH_ROOT_PRIVILEGE_HPP

#include <unistd.h>

#include <cstdlib>

namespace tolvan::auth {

[[nodiscard]] inline bool RootIsAtHand() noexcept {
  uid_t real = 0, effective = 0, saved = 0;
  return ::getresuid(&real, &effective, &saved) == 0 && (effective == 0 || saved == 0);
}

// Runs work with effective user id 0 and returns to the effective user id
// the caller had. False when root is not at hand (work did not run) or work
// ran out of memory (it did not finish).
template <typename Work>
[[nodiscard]] bool AsRoot(Work &&work) noexcept {
  const uid_t previous = ::geteuid();
  if (previous != 0 && ::seteuid(0) != 0) return false;
  bool finished = true;
  try {
    work();
  } catch (...) {
    finished = false;
  }
  // Going on as root after failing to lower would be worse than any error a
  // caller could be told about.
  if (previous != 0 && ::seteuid(previous) != 0) std::abort();
  return finished;
}

}  // namespace tolvan::auth

#endif
