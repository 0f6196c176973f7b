// Asking for the password on the controlling terminal (/dev/tty, never the
// standard descriptors, which belong to the caller's protocol). Echo is off
// while the person types and is restored on every way out; a signal that
// arrives meanwhile cancels the prompt and is delivered once echo is back.
#ifndef TOLVAN_PLATFORM_AUTH_TERMINAL_PROMPT_HPP
#define TOLVAN_PLATFORM_AUTH_TERMINAL_PROMPT_HPP

#include "platform/auth/secret_answer.hpp"

namespace tolvan::auth {

// Call with the effective user id lowered to the real user's.
// kUnavailable when there is no controlling terminal.
[[nodiscard]] AskOutcome AskAtTerminal(const char *prompt, SecretBuffer *answer) noexcept;

}  // namespace tolvan::auth

#endif
