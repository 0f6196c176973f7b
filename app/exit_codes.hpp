// The exit statuses of tolvan-prefs, as --help and docs/tolvan-prefs.md
// list them.
#ifndef TOLVAN_APP_EXIT_CODES_HPP
#define TOLVAN_APP_EXIT_CODES_HPP

#include "platform/base/tolvan_status.h"

namespace tolvan::app {

enum ExitCode : int {
  kExitSuccess = 0,
  kExitUsage = 1,
  kExitDenied = 2,
  kExitCancelled = 3,
  kExitFailure = 4,
  kExitNoSuchKey = 5,
};

// Denied and cancelled get their own codes, so that scripts can tell a
// refusal from a fault; every other failure is kExitFailure.
ExitCode ExitCodeForStatus(OSStatus status);

}  // namespace tolvan::app

#endif
