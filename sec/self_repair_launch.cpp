// Kept apart from the exchange so that the exchange can be driven without
// a privileged launch.
#include <stdio.h>

#include "sec/self_repair_relay.hpp"

namespace tolvan {

OSStatus ExecuteSelfInPrivilegedSelfRepairMode(int input, int output,
                                               AuthorizationRef authorization,
                                               const char *executablePath) noexcept {
  static constexpr const char *kSelfRepairArguments[] = {"--self-repair", nullptr};
  FILE *link = nullptr;
  // The launch only reads the argument strings.
  OSStatus status = AuthorizationExecuteWithPrivileges(
      authorization, executablePath, kAuthorizationFlagDefaults,
      const_cast<char *const *>(kSelfRepairArguments), &link);
  if (status != noErr) return status;
  return RelayThroughPrivilegedCopy(input, output, link);
}

}  // namespace tolvan
