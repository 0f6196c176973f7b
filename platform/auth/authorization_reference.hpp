// What a reference holds: the identity of the process it belongs to, as its
// external form carries it. It holds no rights; every request is judged anew.
#ifndef TOLVAN_PLATFORM_AUTH_AUTHORIZATION_REFERENCE_HPP
#define TOLVAN_PLATFORM_AUTH_AUTHORIZATION_REFERENCE_HPP

#include <cstdint>

#include "platform/auth/authorization.h"
#include "platform/auth/external_form.hpp"

struct AuthorizationOpaqueRef {
  // Catches a stale or foreign pointer in the common cases; it is no defence
  // against a caller that lies, which needs none: a reference grants nothing.
  uint64_t tag;
  tolvan::auth::FormContents form;
};

namespace tolvan::auth {

constexpr uint64_t kReferenceTag = 0x546f6c76616e4172;  // "TolvanAr"

inline bool IsReference(AuthorizationRef authorization) noexcept {
  return authorization != nullptr && authorization->tag == kReferenceTag;
}

}  // namespace tolvan::auth

#endif
