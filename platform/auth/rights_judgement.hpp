// The judgement of the administrator right for the real user of the calling
// process. Kept apart from the reference calls so that a privileged
// launcher can judge with the same rules.
#ifndef TOLVAN_PLATFORM_AUTH_RIGHTS_JUDGEMENT_HPP
#define TOLVAN_PLATFORM_AUTH_RIGHTS_JUDGEMENT_HPP

#include "platform/auth/authorization.h"

namespace tolvan::auth {

constexpr AuthorizationFlags kKnownFlags =
    kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights |
    kAuthorizationFlagPartialRights | kAuthorizationFlagDestroyRights |
    kAuthorizationFlagPreAuthorize;

constexpr int kPasswordTries = 3;

// 0 granted; errAuthorizationDenied, errAuthorizationCanceled,
// errAuthorizationInternal (policy or PAM set-up broken or unsafe) or
// memFullErr. Only kAuthorizationFlagInteractionAllowed of flags matters.
[[nodiscard]] OSStatus JudgeAdminRight(AuthorizationFlags flags) noexcept;

// Voids the real user's remembered authentication for the current session
// and terminal, when root is at hand.
void ForgetAdminRight() noexcept;

}  // namespace tolvan::auth

#endif
