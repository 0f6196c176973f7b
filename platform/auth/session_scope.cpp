#include "platform/auth/session_scope.hpp"

#include <time.h>

#include "platform/auth/process_identity.hpp"

namespace tolvan::auth {

bool CurrentSessionScope(uid_t uid, SessionScope *out) noexcept {
  ProcStat self;
  if (!ReadSelfStat(&self) || self.session <= 0) return false;
  UniqueFd leaderFolder = OpenProcessFolder(self.session);
  ProcStat leader;
  if (!leaderFolder || !ReadProcStat(leaderFolder.get(), &leader)) return false;
  if (leader.pid != self.session || leader.session != self.session) return false;
  SessionScope scope;
  if (!ReadBootId(&scope.bootId)) return false;
  scope.uid = uid;
  scope.terminal = self.terminal;
  scope.session = self.session;
  scope.leaderStartTime = leader.startTime;
  *out = scope;
  return true;
}

uint64_t BootClockNow() noexcept {
  struct timespec now;
  ::clock_gettime(CLOCK_BOOTTIME, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1'000'000'000 + static_cast<uint64_t>(now.tv_nsec);
}

}  // namespace tolvan::auth
