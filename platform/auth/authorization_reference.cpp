// Making, externalizing and freeing references.
#include <new>

#include "platform/auth/authorization.h"
#include "platform/auth/authorization_reference.hpp"
#include "platform/auth/external_form.hpp"
#include "platform/auth/rights_judgement.hpp"

using tolvan::auth::FormContents;
using tolvan::auth::IsReference;
using tolvan::auth::kKnownFlags;
using tolvan::auth::kReferenceTag;

namespace {

AuthorizationRef NewReference(const FormContents &form) noexcept {
  auto *reference = new (std::nothrow) AuthorizationOpaqueRef;
  if (reference == nullptr) return nullptr;
  reference->tag = kReferenceTag;
  reference->form = form;
  return reference;
}

void DeleteReference(AuthorizationRef reference) noexcept {
  reference->tag = 0;
  delete reference;
}

bool AsksForRightsNow(const AuthorizationRights *rights, AuthorizationFlags flags) {
  return rights != nullptr && rights->count > 0 &&
         (flags & (kAuthorizationFlagExtendRights | kAuthorizationFlagPreAuthorize)) != 0;
}

}  // namespace

extern "C" OSStatus AuthorizationCreate(const AuthorizationRights *rights,
                                        const AuthorizationEnvironment *environment,
                                        AuthorizationFlags flags,
                                        AuthorizationRef *authorization) {
  if (authorization == nullptr) return errAuthorizationInvalidPointer;
  *authorization = nullptr;
  if ((flags & ~kKnownFlags) != 0) return errAuthorizationInvalidFlags;
  FormContents form;
  if (!tolvan::auth::DescribeCallingProcess(&form)) return errAuthorizationInternal;
  AuthorizationRef reference = NewReference(form);
  if (reference == nullptr) return memFullErr;
  if (AsksForRightsNow(rights, flags)) {
    OSStatus status = AuthorizationCopyRights(reference, rights, environment, flags, nullptr);
    if (status != errAuthorizationSuccess) {
      DeleteReference(reference);
      return status;
    }
  }
  *authorization = reference;
  return errAuthorizationSuccess;
}

extern "C" OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags flags) {
  if (!IsReference(authorization)) return errAuthorizationInvalidRef;
  if ((flags & ~kKnownFlags) != 0) return errAuthorizationInvalidFlags;
  if ((flags & kAuthorizationFlagDestroyRights) != 0) tolvan::auth::ForgetAdminRight();
  DeleteReference(authorization);
  return errAuthorizationSuccess;
}

extern "C" OSStatus AuthorizationMakeExternalForm(AuthorizationRef authorization,
                                                  AuthorizationExternalForm *extForm) {
  if (!IsReference(authorization)) return errAuthorizationInvalidRef;
  if (extForm == nullptr) return errAuthorizationInvalidPointer;
  tolvan::auth::EncodeExternalForm(authorization->form, extForm);
  return errAuthorizationSuccess;
}

extern "C" OSStatus AuthorizationCreateFromExternalForm(const AuthorizationExternalForm *extForm,
                                                        AuthorizationRef *authorization) {
  if (authorization == nullptr) return errAuthorizationInvalidPointer;
  *authorization = nullptr;
  if (extForm == nullptr) return errAuthorizationInvalidPointer;
  FormContents form;
  OSStatus status = tolvan::auth::ValidateExternalForm(*extForm, &form);
  if (status != errAuthorizationSuccess) return status;
  AuthorizationRef reference = NewReference(form);
  if (reference == nullptr) return memFullErr;
  *authorization = reference;
  return errAuthorizationSuccess;
}

extern "C" OSStatus AuthorizationCopyPrivilegedReference(AuthorizationRef *authorization,
                                                         AuthorizationFlags flags) {
  if (authorization == nullptr) return errAuthorizationInvalidPointer;
  // No privileged launch hands a reference over yet.
  *authorization = nullptr;
  return errAuthorizationInvalidRef;
}
