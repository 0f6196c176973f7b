// Making, externalizing and freeing references.
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "platform/auth/authorization.h"
#include "platform/auth/authorization_reference.hpp"
#include "platform/auth/external_form.hpp"
#include "platform/auth/launch_record_store.hpp"
#include "platform/auth/rights_judgement.hpp"
#include "platform/auth/root_privilege.hpp"
#include "platform/auth/trusted_path.hpp"

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

// The record a privileged launch of this very process would have left: this
// pid, start time and real user, and the file the kernel says is running.
bool DescribeThisLaunch(tolvan::auth::LaunchRecord *out) {
  struct stat executable;
  return ::stat("/proc/self/exe", &executable) == 0 &&
         tolvan::auth::DescribeThisProcessRunning(executable, out);
}

bool TakeRecordAsRoot(pid_t pid, tolvan::auth::LaunchRecord *record) {
  bool taken = false;
  const bool ran = tolvan::auth::AsRootAtSystemRoot(
      [&](int root) { taken = tolvan::auth::TakeLaunchRecord(root, pid, record); });
  return ran && taken;
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
                                                         AuthorizationFlags) {
  if (authorization == nullptr) return errAuthorizationInvalidPointer;
  *authorization = nullptr;
  tolvan::auth::LaunchRecord expected;
  tolvan::auth::LaunchRecord record;
  // A stale record of a dead process that had this pid names another start
  // time; one left for another program that this process exec'd into names
  // another file.
  if (!tolvan::auth::RootIsAtHand() || !DescribeThisLaunch(&expected) ||
      !TakeRecordAsRoot(expected.pid, &record) || !tolvan::auth::SameLaunch(record, expected)) {
    return errAuthorizationInvalidRef;
  }
  return AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, authorization) ==
                 errAuthorizationSuccess
             ? errAuthorizationSuccess
             : errAuthorizationInvalidRef;
}
