// The unprivileged copy's half of self-repair. A tool that starts without
// root cannot serve a request itself: it starts a second copy of its own
// executable with "--self-repair" through a privileged launch, passes the
// request to it, passes its reply back, and reports that copy's outcome.
#ifndef TOLVAN_SEC_SELF_REPAIR_RELAY_HPP
#define TOLVAN_SEC_SELF_REPAIR_RELAY_HPP

#include <stdio.h>

#include "platform/auth/authorization.h"
#include "platform/base/tolvan_status.h"

namespace tolvan {

// Starts executablePath with "--self-repair" through
// AuthorizationExecuteWithPrivileges (authorization is borrowed) and relays
// through it with RelayThroughPrivilegedCopy. A refused launch returns its
// status (-60005 denied, -60006 cancelled, ...) at once: nothing was
// started and nothing of the input is read.
[[nodiscard]] OSStatus ExecuteSelfInPrivilegedSelfRepairMode(int input, int output,
                                                             AuthorizationRef authorization,
                                                             const char *executablePath) noexcept;

// Everything after a successful launch. link is the stream connected to the
// privileged copy's standard input and output; this call closes it. The
// copy, the only child of this process, is always reaped.
//
// Reads the copy's process-id word, copies all of input to the link,
// half-closes it, reads the reply with its descriptors and writes it to
// output (closing the received descriptors either way). Then:
// - the exchange went through: the copy's outcome from its wait status
//   (0 or 5361 to 5364; 5364 for a signal or an exit code above 4), or the
//   errno of the wait when it failed;
// - the copy closed the link early (EPIPE, or ECONNRESET, on the link): the
//   copy's outcome; 5364 when it cannot be waited for, or when it exited
//   with 0 although the request was never served;
// - any other failure, a failure to write the reply to output included
//   (EPIPE there means the application has gone, not the copy): that status.
[[nodiscard]] OSStatus RelayThroughPrivilegedCopy(int input, int output, FILE *link) noexcept;

}  // namespace tolvan

#endif
