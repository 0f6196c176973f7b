// Checking a password with PAM, service "tolvan", configured in
// <root>/etc/pam.d. The password is asked for before PAM runs and the
// conversation only hands it over, so no person is ever asked while the
// process is root. Call as root.
#ifndef TOLVAN_PLATFORM_AUTH_PAM_CONVERSATION_HPP
#define TOLVAN_PLATFORM_AUTH_PAM_CONVERSATION_HPP

#include "platform/auth/secret_answer.hpp"

namespace tolvan::auth {

enum class PamVerdict {
  kGranted,
  // The password was wrong (or the account is locked): another try may help.
  kWrongPassword,
  // The password was right but the account may not be used (expired, a
  // password that must be changed), or PAM wants no more tries.
  kAccountRefused,
  // PAM itself failed or is not set up.
  kBroken,
};

[[nodiscard]] PamVerdict CheckPasswordWithPam(const char *configFolder, const char *user,
                                              const SecretBuffer &password) noexcept;

}  // namespace tolvan::auth

#endif
