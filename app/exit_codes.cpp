#include "app/exit_codes.hpp"

namespace tolvan::app {

ExitCode ExitCodeForStatus(OSStatus status) {
  switch (status) {
    case noErr: return kExitSuccess;
    case errAuthorizationDenied:
    case errAuthorizationInteractionNotAllowed:
    case kHelperToolDeniedErr: return kExitDenied;
    case errAuthorizationCanceled:
    case kHelperToolCancelledErr: return kExitCancelled;
    default: return kExitFailure;
  }
}

}  // namespace tolvan::app
