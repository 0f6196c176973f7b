#include "sec/helper_tool_auth_ref.h"

extern "C" AuthorizationRef TolvanSecHelperToolCopyAuthRef(void) {
  AuthorizationRef authorization = nullptr;
  // A tool that was not launched with privileges gets no reference, and
  // that is not a failure: in normal mode the request brings its own.
  (void)AuthorizationCopyPrivilegedReference(&authorization, kAuthorizationFlagDefaults);
  return authorization;
}
