// The policy parser on arbitrary bytes: whatever it accepts is within the
// bounds and rules the judgement relies on.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/auth/authorization_policy.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  using tolvan::auth::AuthorizationPolicy;
  if (size > tolvan::auth::kPolicyFileCapacity) return 0;
  AuthorizationPolicy policy;
  if (!tolvan::auth::ParseAuthorizationPolicy(reinterpret_cast<const char *>(data), size,
                                              &policy)) {
    return 0;
  }
  size_t group = strnlen(policy.adminGroup, sizeof policy.adminGroup);
  size_t agent = strnlen(policy.agent, sizeof policy.agent);
  if (group == 0 || group == sizeof policy.adminGroup || policy.adminGroup[0] == '-') std::abort();
  if (agent == sizeof policy.agent || (agent > 0 && policy.agent[0] != '/')) std::abort();
  if (policy.agentTimeoutSeconds == 0 || policy.agentTimeoutSeconds > 3600) std::abort();
  return 0;
}
