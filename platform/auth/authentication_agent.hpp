// Asking for the password through the policy's authentication agent, the
// askpass way: the agent gets the prompt as its one argument and prints the
// password on its standard output; any exit but 0 means the person
// cancelled. It runs as the real user with nothing of ours: no descriptors
// but /dev/null and the pipe, a fixed small environment, default signal
// handling, no way to gain privileges. An agent that outlives its time limit
// is killed, which counts as a cancel.
#ifndef TOLVAN_PLATFORM_AUTH_AUTHENTICATION_AGENT_HPP
#define TOLVAN_PLATFORM_AUTH_AUTHENTICATION_AGENT_HPP

#include "platform/auth/account_lookup.hpp"
#include "platform/auth/secret_answer.hpp"

namespace tolvan::auth {

// Call with the effective user id lowered to the real user's.
[[nodiscard]] AskOutcome AskAgent(const char *program, unsigned timeoutSeconds,
                                  const char *prompt, const Account &account,
                                  SecretBuffer *answer);

}  // namespace tolvan::auth

#endif
