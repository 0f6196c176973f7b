// Holding one authorization reference, freed on every way out: for the
// programs that make or receive one (the tool's driver, the trampoline, the
// command-line program).
#ifndef TOLVAN_PLATFORM_AUTH_HELD_AUTHORIZATION_HPP
#define TOLVAN_PLATFORM_AUTH_HELD_AUTHORIZATION_HPP

#include <utility>

#include "platform/auth/authorization.h"

namespace tolvan::auth {

class HeldAuthorization {
 public:
  HeldAuthorization() = default;
  explicit HeldAuthorization(AuthorizationRef authorization) : authorization_(authorization) {}
  ~HeldAuthorization() { reset(); }
  HeldAuthorization(const HeldAuthorization &) = delete;
  HeldAuthorization &operator=(const HeldAuthorization &) = delete;

  AuthorizationRef get() const { return authorization_; }
  // Frees what is held, for a call that makes a new reference in its place.
  AuthorizationRef *out() {
    reset();
    return &authorization_;
  }
  void reset() {
    AuthorizationRef old = std::exchange(authorization_, nullptr);
    if (old != nullptr) (void)AuthorizationFree(old, kAuthorizationFlagDefaults);
  }

 private:
  AuthorizationRef authorization_ = nullptr;
};

}  // namespace tolvan::auth

#endif
