// The 32 bytes that carry a reference from one process to another: which
// process made it, for which user, and random bytes that tell two references
// of one process apart. Decoding checks only the layout; validation also
// asks the kernel whether the named process is alive and is who the form
// says. Neither grants anything.
#ifndef TOLVAN_PLATFORM_AUTH_EXTERNAL_FORM_HPP
#define TOLVAN_PLATFORM_AUTH_EXTERNAL_FORM_HPP

#include <sys/types.h>

#include <cstdint>

#include "platform/auth/authorization.h"

namespace tolvan::auth {

constexpr size_t kFormNonceLength = 8;

struct FormContents {
  pid_t pid = 0;
  uid_t uid = 0;
  uint64_t startTime = 0;
  unsigned char nonce[kFormNonceLength] = {};
};

void EncodeExternalForm(const FormContents &contents, AuthorizationExternalForm *form) noexcept;

// Layout only: magic, version, reserved bytes, a positive pid, a nonce that
// is not all zero.
[[nodiscard]] bool DecodeExternalForm(const AuthorizationExternalForm &form,
                                      FormContents *contents) noexcept;

// The contents of a new form for the calling process; false when /proc or
// the random source fails.
[[nodiscard]] bool DescribeCallingProcess(FormContents *contents) noexcept;

// The whole check a receiver makes: the layout, the user is the caller's
// real user, and the named process exists with that real user and start
// time. errAuthorizationInvalidRef when any of it fails.
[[nodiscard]] OSStatus ValidateExternalForm(const AuthorizationExternalForm &form,
                                            FormContents *contents) noexcept;

}  // namespace tolvan::auth

#endif
