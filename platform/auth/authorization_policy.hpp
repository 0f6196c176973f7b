// The machine's authorization policy, <root>/etc/tolvan/authorization: which
// group holds administrators and which program asks for passwords. A text
// file of "key = value" lines; "#" starts a comment line.
//
//   admin-group = sudo          group whose members are administrators
//   agent = /usr/bin/askpass    absolute path of the authentication agent
//   agent-timeout = 60          seconds the agent may take (1 to 3600)
//
// Every key is optional; an unknown or repeated key, or a malformed value,
// makes the whole file invalid.
#ifndef TOLVAN_PLATFORM_AUTH_AUTHORIZATION_POLICY_HPP
#define TOLVAN_PLATFORM_AUTH_AUTHORIZATION_POLICY_HPP

#include <cstddef>

#include "platform/base/tolvan_status.h"

namespace tolvan::auth {

struct AuthorizationPolicy {
  static constexpr size_t kGroupCapacity = 33;
  static constexpr size_t kAgentCapacity = 1024;

  char adminGroup[kGroupCapacity] = "sudo";
  // Empty: no agent; the controlling terminal is asked instead.
  char agent[kAgentCapacity] = "";
  unsigned agentTimeoutSeconds = 60;
};

constexpr size_t kPolicyFileCapacity = 4096;

[[nodiscard]] bool ParseAuthorizationPolicy(const char *text, size_t length,
                                            AuthorizationPolicy *out) noexcept;

// Reads the policy under the system root (call as root). A missing file or
// folder gives the defaults; a file that is not trusted (see trusted_path),
// too long or invalid gives errAuthorizationInternal.
[[nodiscard]] OSStatus LoadAuthorizationPolicy(int root, AuthorizationPolicy *out) noexcept;

}  // namespace tolvan::auth

#endif
