#include "platform/base/tolvan_status.h"

#include <cstring>

namespace {

struct StatusName {
  OSStatus status;
  const char *text;
};

constexpr StatusName kStatusNames[] = {
    {noErr, "success"},
    {paramErr, "parameter error"},
    {dupFNErr, "a file of that name exists"},
    {fnfErr, "file or folder not found"},
    {memFullErr, "out of memory"},
    {coreFoundationUnknownErr, "an object could not be created or a platform call failed"},
    {errAuthorizationInvalidSet, "invalid set of rights"},
    {errAuthorizationInvalidRef, "invalid authorization reference"},
    {errAuthorizationInvalidTag, "invalid authorization tag"},
    {errAuthorizationInvalidPointer, "invalid pointer"},
    {errAuthorizationDenied, "authorization denied"},
    {errAuthorizationCanceled, "authorization cancelled"},
    {errAuthorizationInteractionNotAllowed, "authorization needs interaction, which is not allowed"},
    {errAuthorizationInternal, "internal authorization error"},
    {errAuthorizationExternalizeNotAllowed, "authorization may not be externalized"},
    {errAuthorizationInternalizeNotAllowed, "authorization may not be internalized"},
    {errAuthorizationInvalidFlags, "invalid authorization flags"},
    {errAuthorizationToolExecuteFailure, "the privileged program could not be run"},
    {errAuthorizationToolEnvironmentError, "the privileged program's environment is unsafe"},
    {kHelperToolParamErr, "the helper tool was started with bad parameters"},
    {kHelperToolDeniedErr, "the helper tool was denied authorization"},
    {kHelperToolCancelledErr, "authorization was cancelled in the helper tool"},
    {kHelperToolInternalErr, "the helper tool failed"},
    {kFolderUnsuitableErr, "the folder cannot hold a set-user-ID tool"},
    {kVarnNoSuchKeyErr, "no such key"},
    {kVarnBadValueErr, "a value has the wrong type or content"},
};

}  // namespace

extern "C" const char *TolvanStatusDescription(OSStatus status) {
  for (const StatusName &entry : kStatusNames) {
    if (entry.status == status) return entry.text;
  }
  if (status > 0 && status < 4096) {
    // strerror's table is static for the C locale, which the programs use.
    const char *text = strerrordesc_np(status);
    if (text != nullptr) return text;
  }
  return "unknown error";
}
